// orbread: reads Orbel codes from image files, folders, standard input and
// video, for scripts and people. See docs/orbread.md.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include <opencv2/core/utils/logger.hpp>

#include "annotation.h"
#include "exit_status.h"
#include "inputs.h"
#include "options.h"
#include "output.h"
#include "progress.h"
#include "reading.h"
#include "video.h"

namespace {

using namespace orbread;

std::vector<unsigned char> readStandardInput()
{
    std::vector<unsigned char> bytes;
    unsigned char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

// The lines of a report; the codes of a file of several pages are named
// by their page, as in "scan.tif#2".
std::string pageLines(const Formatter& formatter, const std::string& name, const ImageReport& report)
{
    if (report.codePages.empty() || report.codes.empty()) return formatter.lines(name, report);
    std::string lines;
    for (int page = 1; page <= *std::max_element(report.codePages.begin(), report.codePages.end()); ++page) {
        ImageReport onPage = report;
        onPage.codes.clear();
        for (std::size_t i = 0; i < report.codes.size(); ++i)
            if (report.codePages[i] == page) onPage.codes.push_back(report.codes[i]);
        if (!onPage.codes.empty()) lines += formatter.lines(name + "#" + std::to_string(page), onPage);
    }
    return lines;
}

int readImages(const Options& options)
{
    const std::vector<Input> inputs = listInputs(options.inputs, options.recursive);
    for (const Input& input : inputs)
        if (input.standardInput) takeStandardInput(readStandardInput());

    std::vector<std::string> annotations;
    if (!options.annotateDir.empty()) {
        std::error_code error;
        std::filesystem::create_directories(options.annotateDir, error);
        if (!std::filesystem::is_directory(options.annotateDir)) {
            errorLine(options.annotateDir + ": cannot make the --annotate folder" +
                      (error ? ": " + error.message() : std::string()));
            return kTrouble;
        }
        std::vector<std::string> names;
        for (const Input& input : inputs) names.push_back(input.name);
        annotations = annotationPaths(options.annotateDir, names);
    }

    std::size_t images = 0;
    for (const Input& input : inputs) images += input.problem == Problem::None;
    Progress progress(images, Progress::showBar(images, options.quiet));
    const int threads = readerThreads(options.threads, images);
    const Formatter formatter(options.format);

    int status = kAllRead;
    bool outputOpen = writeOut(formatter.header());
    std::size_t withCodes = 0, codes = 0, without = 0, unreadable = 0;
    auto deliver = [&](std::size_t index, ImageReport& report) {
        const Input& input = inputs[index];
        switch (report.outcome) {
        case Outcome::Codes:
            ++withCodes;
            codes += report.codes.size();
            break;
        case Outcome::NoCode:
            ++without;
            status = std::max(status, kSomeWithoutCode);
            if (!options.quiet) progress.message(input.name + ": " + report.error);
            break;
        case Outcome::Unreadable:
            ++unreadable;
            status = kTrouble;
            progress.message(input.name + ": " + report.error);
            break;
        case Outcome::Note:
            if (!options.quiet) progress.message(input.name + ": " + report.error);
            break;
        }
        if (!report.annotationError.empty()) {
            status = kTrouble;
            progress.message(input.name + ": " + report.annotationError);
        }
        if (report.outcome == Outcome::Codes && !report.warning.empty()) {
            status = kTrouble;
            progress.message(input.name + ": " + report.warning);
        }
        outputOpen = writeOut(pageLines(formatter, input.name, report));
        return outputOpen;
    };
    std::size_t done = 0;
    readAll(inputs, options, annotations, threads, deliver, [&](std::size_t n) {
        done = n;
        progress.update(n);
    });
    progress.finish();
    // Standard output closed (`orbread ... | head -1`): stop quietly.
    if (!outputOpen) return kTrouble;
    if (!options.quiet && Progress::showBar(images, false))
        errorLine(std::to_string(images) + " images: " + std::to_string(withCodes) + " with codes (" +
                  std::to_string(codes) + " codes), " + std::to_string(without) + " without, " +
                  std::to_string(unreadable) + " unreadable");
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    // A closed standard output shows as a failed write, handled where it happens.
    std::signal(SIGPIPE, SIG_IGN);
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);

    const ParsedCommandLine parsed = parseCommandLine(argc, argv);
    if (parsed.exitStatus) return *parsed.exitStatus;
    silenceLibraryMessages();
    try {
        if (!parsed.options.video.empty()) return readVideo(parsed.options);
        return readImages(parsed.options);
    } catch (const std::exception& e) {
        errorLine(e.what());
        return kTrouble;
    }
}

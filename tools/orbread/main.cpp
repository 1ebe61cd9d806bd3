// orbread: reads Orbel codes from image files, folders, standard input and
// video, for scripts and people. See docs/orbread.md.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <optional>
#include <system_error>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <opencv2/core/utils/logger.hpp>

#include "annotation.h"
#include "exit_status.h"
#include "inputs.h"
#include "options.h"
#include "output.h"
#include "progress.h"
#include "reading.h"
#include "standard_input.h"
#include "video.h"

namespace {

using namespace orbread;

// The names of a --files-from list, or why it cannot be read.
std::optional<std::vector<std::string>> listedNames(const Options& options)
{
    if (options.filesFrom.empty()) return std::vector<std::string>{};
    std::string text;
    if (options.filesFrom == "-") {
        text = readAll(STDIN_FILENO);
    } else {
        const int fd = ::open(options.filesFrom.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            errorLine(escaped(options.filesFrom) + ": cannot read the --files-from list: " +
                      std::error_code(errno, std::generic_category()).message());
            return std::nullopt;
        }
        text = readAll(fd);
        ::close(fd);
    }
    return splitNames(text, options.nulSeparated ? '\0' : '\n');
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
    const std::optional<std::vector<std::string>> listed = listedNames(options);
    if (!listed) return kTrouble;
    const std::vector<Input> inputs = listInputs(options.inputs, *listed, options.recursive);
    for (const Input& input : inputs)
        if (input.standardInput) useStandardInput(takeStandardInput(STDIN_FILENO));

    std::vector<std::string> annotations;
    if (!options.annotateDir.empty()) {
        std::error_code error;
        std::filesystem::create_directories(options.annotateDir, error);
        if (!std::filesystem::is_directory(options.annotateDir)) {
            errorLine(escaped(options.annotateDir) + ": cannot make the --annotate folder" +
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
            if (!options.quiet) progress.message(escaped(input.name) + ": " + report.error);
            break;
        case Outcome::Unreadable:
            ++unreadable;
            status = kTrouble;
            progress.message(escaped(input.name) + ": " + report.error);
            break;
        case Outcome::Note:
            if (!options.quiet) progress.message(escaped(input.name) + ": " + report.error);
            break;
        }
        if (report.candidateLimitReached)
            progress.message(input.name + ": warning: the search stopped after " +
                             std::to_string(report.failed.size()) + " places that did not read; codes may be missing");
        if (!report.annotationError.empty()) {
            status = kTrouble;
            progress.message(escaped(input.name) + ": " + report.annotationError);
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

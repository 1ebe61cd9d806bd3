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
#include "inputs.h"
#include "options.h"
#include "orb/logger.h"
#include "output.h"
#include "progress.h"
#include "reading.h"
#include "video.h"

namespace {

using namespace orbread;

// Exit statuses, the worst one wins.
constexpr int kAllRead = 0;
constexpr int kSomeWithoutCode = 1;
constexpr int kTrouble = 2;

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
        if (report.candidateLimitReached)
            progress.message(input.name + ": warning: the search stopped after " +
                             std::to_string(report.failed.size()) + " places that did not read; codes may be missing");
        if (!report.annotationError.empty()) {
            status = kTrouble;
            progress.message(input.name + ": " + report.annotationError);
        }
        outputOpen = writeOut(formatter.lines(input.name, report));
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
    orb::logger().setConsoleLevel(static_cast<int>(orb::LogLevel::Off));
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

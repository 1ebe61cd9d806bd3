#include "video.h"

#include <atomic>
#include <csignal>
#include <filesystem>
#include <cstdint>
#include <algorithm>
#include <string>

#include "video_reading.h"
#include "exit_status.h"
#include "output.h"
#include "progress.h"
#include "reading.h"

namespace orbread {

namespace {

// Set by SIGINT and SIGTERM: the run ends after the frame being read, with
// everything read so far printed.
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void requestStop(int) { stopRequested = true; }

void catchStopSignals()
{
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    // A second signal ends the program at once, should the first not.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// A plain file name (no camera number, stream URL, image-sequence pattern or
// capture pipeline) that names nothing: said at once. The video library
// would otherwise try every capture back end on it, camera searches included.
bool namesNoFile(const std::string& source)
{
    std::error_code error;
    return videoSourceKind(source) == VideoSourceKind::File && !std::filesystem::exists(source, error);
}

} // namespace

int readVideo(const Options& options)
{
    catchStopSignals();
    VideoReadOptions video;
    video.reader = options.reader;
    video.every = options.every;
    video.dedupeSeconds = options.dedupe > 0 ? options.dedupe : 0;

    const Formatter formatter(options.format, true);
    bool outputOpen = writeOut(formatter.header());
    if (!outputOpen) stopRequested = true;
    if (namesNoFile(options.video)) {
        ImageReport missing;
        missing.outcome = Outcome::Unreadable;
        missing.error = "cannot open: no such file";
        errorLine(escaped(options.video) + ": " + missing.error);
        writeOut(formatter.lines(options.video, missing, FrameStamp{-1, 0, 0}));
        return kTrouble;
    }

    // A bar for files of known length only; the source tells its length once open.
    Progress progress(0, !options.quiet && Progress::onTerminal(), "frames");

    std::int64_t lastFrame = -1;
    std::size_t inFrame = 0;
    std::int64_t codes = 0;
    const auto report = [&](const VideoCode& code) {
        if (!outputOpen) return;
        inFrame = code.frame == lastFrame ? inFrame + 1 : 0;
        lastFrame = code.frame;
        if (inFrame >= options.maxCodes) return;
        ++codes;
        ImageReport one;
        one.outcome = Outcome::Codes;
        one.codes.push_back(code.result);
        std::string lines = formatter.lines(options.video, one, FrameStamp{code.frame, code.timeMs / 1000.0, inFrame});
        outputOpen = writeOut(lines);
        if (!outputOpen) stopRequested = true; // `orbread --video ... | head -1`
    };
    const auto onProgress = [&](std::int64_t framesRead, std::int64_t frameCount) {
        if (frameCount <= 0) return;
        progress.setTotal(static_cast<std::size_t>(frameCount));
        progress.update(static_cast<std::size_t>(std::max<std::int64_t>(0, framesRead)));
    };

    const VideoSummary summary = orbread::readVideo(options.video, video, report, stopRequested, onProgress);
    progress.finish();
    if (!outputOpen) return kTrouble;

    int status = codes > 0 ? kAllRead : kSomeWithoutCode;
    std::string problem;
    switch (summary.end) {
    case VideoEnd::Finished: break;
    case VideoEnd::Stopped: if (!options.quiet) progress.message(escaped(summary.message)); break;
    case VideoEnd::TooLarge:
        // Worded as for an image that is too large.
        status = kTrouble;
        problem = summary.reason;
        progress.message(escaped(options.video) + ": " + summary.reason);
        break;
    case VideoEnd::CannotOpen:
    case VideoEnd::Stalled:
    case VideoEnd::Broken:
        status = kTrouble;
        problem = summary.message;
        progress.message(escaped(summary.message));
        break;
    }
    if (codes == 0 && summary.end != VideoEnd::CannotOpen && summary.end != VideoEnd::TooLarge) {
        const std::string none = "no code found in " + std::to_string(summary.framesDecoded) + " frames read";
        if (!options.quiet) progress.message(escaped(options.video) + ": " + none);
        if (problem.empty()) problem = none;
    }
    if (codes == 0 || !problem.empty()) {
        // JSON and CSV get a line with the reason, as an image without a code does.
        ImageReport failed;
        failed.outcome = status == kTrouble ? Outcome::Unreadable : Outcome::NoCode;
        failed.error = problem;
        if (!writeOut(formatter.lines(options.video, failed, FrameStamp{-1, 0, 0}))) return kTrouble;
    }
    return status;
}

} // namespace orbread

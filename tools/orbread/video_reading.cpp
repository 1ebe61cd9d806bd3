#include "video_reading.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include <opencv2/videoio.hpp>

#include "orb/logger.h"

namespace orbread {

namespace {

using Clock = std::chrono::steady_clock;

// How often the caller's thread looks at `stop` while it waits for a frame.
constexpr auto kWaitSlice = std::chrono::milliseconds(50);
// Frames read ahead while the caller's thread reads codes: enough to keep
// both threads busy, few enough that a live source is not read far ahead.
constexpr std::size_t kFramesAhead = 2;
constexpr auto kProgressInterval = std::chrono::milliseconds(250);

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct SourceFrame {
    std::int64_t index = 0;
    double timeMs = 0;
    cv::Mat image;
};

// Why the reading thread stopped taking frames.
enum class FeedEnd { Running, EndOfSource, Failing, Error, TooLarge };

// What the reading thread and the caller's thread share. The reading
// thread owns a reference too: a read blocked in a stalled source cannot be
// interrupted, so that thread may outlive readVideo and must not touch its
// stack.
struct FrameFeed {
    std::mutex mutex;
    std::condition_variable changed;
    bool openDone = false;
    bool opened = false;
    std::int64_t frameCount = -1;
    std::deque<SourceFrame> frames;
    FeedEnd end = FeedEnd::Running;
    std::string error;
    bool quit = false;
    bool finished = false; // the reading thread has released the source
    // While a read is under way: since when. A source stalls when one read
    // lasts too long, not when the caller is slow to take frames.
    bool reading = false;
    Clock::time_point readStarted;
    std::int64_t framesRead = 0;
    cv::Size tooLarge; // the size of a frame above the pixel limit
};

// A camera, a stream or a capture pipeline: a failed read may be a dropped
// frame, not the end. A file's failed read is its end.
bool isLiveSource(const std::string& source)
{
    const VideoSourceKind kind = videoSourceKind(source);
    return kind == VideoSourceKind::Camera || kind == VideoSourceKind::Stream;
}

// A source that can stall: a camera, a stream, or a pipe or device named
// by its path. A file (an image sequence too) is read to its end however
// slowly its frames decode.
bool canStall(const std::string& source)
{
    if (isLiveSource(source)) return true;
    struct stat info {};
    return ::stat(source.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

bool aboveLimit(cv::Size size, std::int64_t maxPixels)
{
    return static_cast<std::int64_t>(size.width) * size.height > maxPixels;
}

bool openSource(cv::VideoCapture& capture, const std::string& source)
{
    try {
        // A camera number is a video device. Any back end would also search
        // for cameras over USB, which takes time and leaks.
        if (videoSourceKind(source) == VideoSourceKind::Camera) return capture.open(std::stoi(source), cv::CAP_V4L2);
        if (isLiveSource(source)) return capture.open(source);
        // A file or an image sequence: the back ends that read files only.
        // Left to try them all, the video library also searches for cameras
        // over USB on a name it cannot open.
        for (const int backEnd : {cv::CAP_FFMPEG, cv::CAP_IMAGES, cv::CAP_GSTREAMER})
            if (capture.open(source, backEnd)) return true;
        return false;
    } catch (const std::exception& error) {
        orb::logger().line(orb::LogLevel::Debug, "Opening '", source, "' failed: ", error.what());
        return false;
    }
}

// The time stamp the source gives a frame; its place at the source's frame
// rate when it gives none; the time since opening for a source that knows
// neither (a camera without time stamps).
double frameTimeMs(const cv::VideoCapture& capture, std::int64_t index, Clock::time_point openedAt)
{
    const double position = capture.get(cv::CAP_PROP_POS_MSEC);
    if (position > 0 || (index == 0 && position == 0)) return position;
    const double fps = capture.get(cv::CAP_PROP_FPS);
    if (fps > 0) return static_cast<double>(index) * 1000.0 / fps;
    return secondsSince(openedAt) * 1000.0;
}

// The reading thread: opens the source, then takes its frames one by one
// and hands every `every`-th to the caller's thread, the others skipped
// without being converted.
void feedFrames(const std::shared_ptr<FrameFeed>& feed, const std::string& source, int every, double stallSeconds,
                std::int64_t maxPixels)
{
    cv::VideoCapture capture;
    const bool opened = openSource(capture, source);
    // The size the source announces, refused before a frame is decoded.
    const cv::Size announced = opened ? cv::Size(static_cast<int>(capture.get(cv::CAP_PROP_FRAME_WIDTH)),
                                                 static_cast<int>(capture.get(cv::CAP_PROP_FRAME_HEIGHT)))
                                      : cv::Size();
    const Clock::time_point openedAt = Clock::now();
    {
        std::lock_guard lock(feed->mutex);
        feed->openDone = true;
        feed->opened = opened;
        if (opened) {
            const double count = capture.get(cv::CAP_PROP_FRAME_COUNT);
            feed->frameCount = count > 0 ? static_cast<std::int64_t>(count) : -1;
        }
    }
    feed->changed.notify_all();

    FeedEnd end = opened ? FeedEnd::Running : FeedEnd::EndOfSource;
    std::string error;
    cv::Size tooLarge;
    if (opened && aboveLimit(announced, maxPixels)) {
        end = FeedEnd::TooLarge;
        tooLarge = announced;
    }
    const bool live = feed->frameCount <= 0 && isLiveSource(source);
    Clock::time_point lastFrame = Clock::now();
    for (std::int64_t index = 0; end == FeedEnd::Running;) {
        {
            std::lock_guard lock(feed->mutex);
            if (feed->quit) break;
            feed->reading = true;
            feed->readStarted = Clock::now();
        }
        const bool wanted = index % every == 0;
        SourceFrame frame;
        bool got = false;
        try {
            got = wanted ? capture.read(frame.image) && !frame.image.empty() : capture.grab();
        } catch (const std::exception& failure) {
            end = FeedEnd::Error;
            error = failure.what();
        }
        {
            std::lock_guard lock(feed->mutex);
            feed->reading = false;
        }
        if (end != FeedEnd::Running) break;
        if (!got) {
            // A live source may drop a frame now and then; only one silent
            // for the stall time has gone (a camera unplugged, a stream closed).
            if (!live) end = FeedEnd::EndOfSource;
            else if (secondsSince(lastFrame) > stallSeconds) end = FeedEnd::Failing;
            else std::this_thread::sleep_for(std::chrono::milliseconds(5)); // a failing read returns at once
            continue;
        }
        // A source may change its frame size on the way (a stream, an image sequence).
        if (wanted && aboveLimit(frame.image.size(), maxPixels)) {
            end = FeedEnd::TooLarge;
            tooLarge = frame.image.size();
            break;
        }
        lastFrame = Clock::now();
        frame.index = index++;
        if (wanted) frame.timeMs = frameTimeMs(capture, frame.index, openedAt);
        std::unique_lock lock(feed->mutex);
        ++feed->framesRead;
        if (!wanted) continue;
        feed->changed.wait(lock, [&] { return feed->quit || feed->frames.size() < kFramesAhead; });
        if (feed->quit) break;
        feed->frames.push_back(std::move(frame));
        lock.unlock();
        feed->changed.notify_all();
    }
    capture.release();
    {
        std::lock_guard lock(feed->mutex);
        if (end != FeedEnd::Running) {
            feed->end = end;
            feed->error = error;
            feed->tooLarge = tooLarge;
        }
        feed->finished = true;
    }
    feed->changed.notify_all();
}

// Which codes to report: every one, or with a dedupe time, a code again
// only after it was out of view that long.
class DedupeFilter {
public:
    explicit DedupeFilter(double seconds) : windowMs_(seconds * 1000) {}

    // The codes of one frame that are to be reported.
    std::vector<orb::ReadResult> filter(std::vector<orb::ReadResult> codes, double timeMs)
    {
        if (windowMs_ <= 0) return codes;
        std::set<std::vector<std::uint8_t>> inView;
        std::vector<orb::ReadResult> fresh;
        for (orb::ReadResult& code : codes) {
            if (!inView.insert(code.bytes).second) continue; // the same code twice in one frame
            const auto known = absentSince_.find(code.bytes);
            if (known == absentSince_.end() || timeMs - known->second >= windowMs_) fresh.push_back(std::move(code));
        }
        // Codes that left the view start their absence with this frame;
        // codes in view have none. Absences past the window are forgotten.
        for (auto entry = absentSince_.begin(); entry != absentSince_.end();) {
            if (inView.count(entry->first) == 0 && timeMs - entry->second >= windowMs_)
                entry = absentSince_.erase(entry);
            else
                ++entry;
        }
        for (auto& [bytes, since] : absentSince_)
            if (inView.count(bytes) == 0 && since == kInView) since = timeMs;
        for (const auto& bytes : inView) absentSince_[bytes] = kInView;
        return fresh;
    }

private:
    // Marks a code in view: never out of view long enough.
    static constexpr double kInView = 1e300;
    double windowMs_;
    std::map<std::vector<std::uint8_t>, double> absentSince_;
};

// The reads of frames under way, several at once (the reader allows it,
// and a frame takes it far longer than the source takes to give one), with
// their codes reported in frame order.
class FrameReads {
public:
    FrameReads(const VideoReadOptions& options, const std::function<void(const VideoCode&)>& report)
        : reader_(options.reader), report_(report), dedupe_(options.dedupeSeconds),
          limit_(std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4))
    {
    }

    bool full() const { return reads_.size() >= limit_; }
    bool empty() const { return reads_.empty(); }
    std::int64_t framesDecoded() const { return framesDecoded_; }
    std::int64_t codesReported() const { return codesReported_; }

    void start(SourceFrame frame)
    {
        ++framesDecoded_;
        auto codes = std::async(std::launch::async,
                                [image = std::move(frame.image), reader = reader_] { return orb::readCodes(image, reader); });
        reads_.push_back({frame.index, frame.timeMs, std::move(codes)});
    }

    // Reports the codes of the oldest read when it is done within `wait`.
    void reportOldest(std::chrono::milliseconds wait)
    {
        Read& oldest = reads_.front();
        if (oldest.codes.wait_for(wait) != std::future_status::ready) return;
        std::vector<orb::ReadResult> codes;
        try {
            codes = oldest.codes.get();
        } catch (const std::exception& error) {
            // One odd frame must not end the run; say so once, then quietly.
            const orb::LogLevel level = faultedFrames_++ == 0 ? orb::LogLevel::Warning : orb::LogLevel::Debug;
            orb::logger().line(level, "Frame ", oldest.index, " not read: ", error.what());
        }
        for (orb::ReadResult& code : dedupe_.filter(std::move(codes), oldest.timeMs)) {
            ++codesReported_;
            if (report_) report_(VideoCode{oldest.index, oldest.timeMs, std::move(code)});
        }
        reads_.pop_front();
    }

private:
    struct Read {
        std::int64_t index;
        double timeMs;
        std::future<std::vector<orb::ReadResult>> codes;
    };
    orb::ReaderOptions reader_;
    const std::function<void(const VideoCode&)>& report_;
    DedupeFilter dedupe_;
    std::size_t limit_;
    std::deque<Read> reads_; // oldest first
    std::int64_t framesDecoded_ = 0;
    std::int64_t codesReported_ = 0;
    std::uint64_t faultedFrames_ = 0;
};

std::string quoted(const std::string& source) { return "'" + source + "'"; }

// "2 s", "0.5 s"
std::string secondsText(double seconds)
{
    std::ostringstream text;
    text << seconds << " s";
    return text.str();
}

} // namespace

VideoSourceKind videoSourceKind(const std::string& source)
{
    const bool digits = !source.empty() && source.size() <= 4 &&
                        std::all_of(source.begin(), source.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits) return VideoSourceKind::Camera;
    if (source.find("://") != std::string::npos || source.find('!') != std::string::npos) return VideoSourceKind::Stream;
    if (source.find('%') != std::string::npos) return VideoSourceKind::Sequence;
    return VideoSourceKind::File;
}

VideoSummary readVideo(const std::string& source, const VideoReadOptions& options,
                       const std::function<void(const VideoCode&)>& report, const std::atomic<bool>& stop,
                       const std::function<void(std::int64_t, std::int64_t)>& progress)
{
    VideoSummary summary;
    auto feed = std::make_shared<FrameFeed>();
    const int every = std::max(1, options.every);
    std::thread reader(feedFrames, feed, source, every, options.stallSeconds, options.maxPixels);
    const bool stalls = canStall(source);

    FrameReads reads(options, report);
    Clock::time_point lastProgress = Clock::now();
    std::int64_t progressShown = -1;
    const Clock::time_point started = Clock::now();
    std::unique_lock lock(feed->mutex);
    for (;;) {
        if (feed->frames.empty() && !feed->finished && reads.empty()) feed->changed.wait_for(lock, kWaitSlice);
        summary.framesRead = feed->framesRead;
        if (stop) {
            summary.end = VideoEnd::Stopped;
            summary.message = "Stopped reading " + quoted(source) + " after " + std::to_string(summary.framesRead) +
                              " frames";
            break;
        }
        if (!feed->openDone) {
            if (secondsSince(started) > options.openSeconds) {
                summary.end = VideoEnd::CannotOpen;
                summary.message = "Cannot open video source " + quoted(source) + ": no answer within " +
                                  secondsText(options.openSeconds);
                break;
            }
            continue;
        }
        if (!feed->opened) {
            summary.end = VideoEnd::CannotOpen;
            summary.message = "Cannot open video source " + quoted(source);
            break;
        }
        summary.frameCount = feed->frameCount;
        while (!feed->frames.empty() && !reads.full()) {
            reads.start(std::move(feed->frames.front()));
            feed->frames.pop_front();
        }
        if (!reads.empty()) {
            lock.unlock();
            feed->changed.notify_all(); // room for the next frames
            reads.reportOldest(kWaitSlice);
            if (progress && Clock::now() - lastProgress >= kProgressInterval) {
                lastProgress = Clock::now();
                progressShown = summary.framesRead;
                progress(summary.framesRead, summary.frameCount);
            }
            lock.lock();
            continue;
        }
        if (feed->finished) {
            if (feed->end == FeedEnd::TooLarge) {
                summary.end = VideoEnd::TooLarge;
                summary.reason = "image too large: " + std::to_string(feed->tooLarge.width) + " x " +
                                 std::to_string(feed->tooLarge.height) + " pixels, more than the limit of " +
                                 std::to_string(options.maxPixels);
                summary.message = "Video source " + quoted(source) + " after " + std::to_string(summary.framesRead) +
                                  " frames: " + summary.reason;
            } else if (feed->end == FeedEnd::Error) {
                summary.end = VideoEnd::Broken;
                summary.message = "Video source " + quoted(source) + " failed after " +
                                  std::to_string(summary.framesRead) + " frames: " + feed->error;
            } else if (feed->end == FeedEnd::Failing) {
                summary.end = VideoEnd::Broken;
                summary.message = "Video source " + quoted(source) + " stopped delivering frames after " +
                                  std::to_string(summary.framesRead) + " frames";
            } else if (summary.frameCount > 0 &&
                       summary.framesRead < summary.frameCount - std::max<std::int64_t>(2, summary.frameCount / 100)) {
                // The container promised more than it held; a frame count
                // estimated from the duration may be a frame or two off.
                summary.end = VideoEnd::Broken;
                summary.message = "Video source " + quoted(source) + " ended after " +
                                  std::to_string(summary.framesRead) + " of " + std::to_string(summary.frameCount) +
                                  " frames: the file is truncated or damaged";
            }
            break;
        }
        if (stalls && feed->reading && secondsSince(feed->readStarted) > options.stallSeconds) {
            summary.end = VideoEnd::Stalled;
            summary.message = "Video source " + quoted(source) + " stalled: no frame for " +
                              secondsText(options.stallSeconds);
            break;
        }
    }

    // Let the reading thread go; one blocked in the source cannot be joined
    // and ends by itself when its read returns.
    feed->quit = true;
    lock.unlock();
    feed->changed.notify_all();
    lock.lock();
    const bool finished = feed->changed.wait_for(lock, std::chrono::seconds(1), [&] { return feed->finished; });
    lock.unlock();
    if (finished) reader.join();
    else reader.detach();
    summary.framesDecoded = reads.framesDecoded();
    summary.codesReported = reads.codesReported();
    if (progress && progressShown != summary.framesRead) progress(summary.framesRead, summary.frameCount);
    return summary;
}

} // namespace orbread

#pragma once
// Reading codes from every frame of a video source without a window: a file,
// an image sequence, a camera or a stream, as OpenCV's video input opens it.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "orb/image_file.h"
#include "orb/reader.h"

namespace orbread {

// What a source name names: a camera number ("0"), a stream URL or a capture
// pipeline (read live: a failed read may be a dropped frame), an image
// sequence pattern (dir/frame_%04d.png), or else a file.
enum class VideoSourceKind { Camera, Stream, Sequence, File };
VideoSourceKind videoSourceKind(const std::string& source);

struct VideoReadOptions {
    orb::ReaderOptions reader;  // how each frame is read
    int every = 1;              // read every N-th frame (1 = all)
    double dedupeSeconds = 0;   // > 0: report a code again only after it was out of view that long (by its bytes)
    double stallSeconds = 2;    // no frame for this long = a camera or stream stalled; a file is read however slowly
    std::int64_t maxPixels = orb::kMaxImagePixels; // a larger frame ends the run, as a larger image is refused
    double openSeconds = 10;    // a source not open after this long cannot be opened (a stream URL can hang)
};

struct VideoCode {              // one read code in one frame
    std::int64_t frame;         // 0-based index of the frame in the source
    double timeMs;              // the frame's time stamp in the source
    orb::ReadResult result;
};

enum class VideoEnd { Finished, Stopped, CannotOpen, Stalled, Broken, TooLarge };

struct VideoSummary {
    VideoEnd end = VideoEnd::Finished;
    std::string message;             // one line naming the source; empty when Finished
    std::string reason;              // TooLarge: "image too large: W x H pixels, ...", as for an image
    std::int64_t framesRead = 0;     // frames taken from the source
    std::int64_t framesDecoded = 0;  // frames given to the reader (after `every`)
    std::int64_t codesReported = 0;
    std::int64_t frameCount = -1;    // the source's frame count when it knows it, else -1
};

// Opens `source` (a file, an image-sequence pattern like dir/frame_%04d.png,
// a camera number like "0", or a stream URL) and reads it to its end,
// calling `report` for each code read (after dedupe) and
// `progress(framesRead, frameCount)` now and then (may be empty). Returns
// when the source ends, fails, stalls, or when `stop` becomes true (it may be
// set from a signal handler). Never opens a window and never throws for a bad
// source; what was reported stays reported. Frames are read on several
// threads at once, but `report` and `progress` are called on the caller's
// thread, codes in frame order.
VideoSummary readVideo(const std::string& source, const VideoReadOptions& options,
                       const std::function<void(const VideoCode&)>& report, const std::atomic<bool>& stop,
                       const std::function<void(std::int64_t, std::int64_t)>& progress = {});

} // namespace orbread

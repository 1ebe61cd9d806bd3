#pragma once
// orbread --video: the codes in the frames of a video, without a window.
#include "options.h"

namespace orbread {

// Reads `options.video` to its end (or SIGINT/SIGTERM) and prints each code
// read; returns the exit status.
int readVideo(const Options& options);

} // namespace orbread

#include "video.h"

#include <iostream>

namespace orbread {

int readVideo(const Options& options)
{
    std::cerr << "orbread: " << options.video << ": video reading is not built yet\n";
    return 2;
}

} // namespace orbread

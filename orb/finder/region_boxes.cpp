#include "orb/finder/region_boxes.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace orb {

std::vector<RegionBox> regionBoxes(const cv::Mat& white, const cv::Mat& labels, int count)
{
    CV_Assert(white.type() == CV_8UC1 && labels.type() == CV_32SC1 && white.size() == labels.size());
    struct Run {
        int start, end, label; // end inclusive
    };
    std::vector<RegionBox> boxes(static_cast<std::size_t>(count));
    std::vector<Run> above, here;
    const auto columns = static_cast<std::size_t>(white.cols);
    // A run of white is one region's, so the runs are found in the bytes of
    // the mask, a word at a time, and only their first label is read.
    for (int y = 0; y < white.rows; ++y) {
        const uchar* mask = white.ptr<uchar>(y);
        const uchar* end = mask + columns;
        here.clear();
        for (const uchar* at = mask; at < end;) {
            const auto* first = static_cast<const uchar*>(std::memchr(at, 255, static_cast<std::size_t>(end - at)));
            if (!first) break;
            const auto* past = static_cast<const uchar*>(std::memchr(first, 0, static_cast<std::size_t>(end - first)));
            if (!past) past = end;
            const int start = static_cast<int>(first - mask), last = static_cast<int>(past - mask) - 1;
            const int label = labels.ptr<int>(y)[start];
            RegionBox& box = boxes[static_cast<std::size_t>(label)];
            if (box.top < 0) box.top = y;
            box.bottom = y;
            box.left = std::min(box.left, start);
            box.right = std::max(box.right, last);
            box.pixels += last - start + 1;
            ++box.runs;
            here.push_back({start, last, label});
            at = past;
        }
        // Runs that share a column with one in the row above belong to its region.
        for (std::size_t i = 0, j = 0; i < above.size() && j < here.size();) {
            if (above[i].start <= here[j].end && here[j].start <= above[i].end)
                ++boxes[static_cast<std::size_t>(here[j].label)].joins;
            if (above[i].end < here[j].end) ++i;
            else ++j;
        }
        std::swap(above, here);
    }
    return boxes;
}

} // namespace orb

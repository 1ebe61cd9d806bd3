#include "orb/finder/region_boxes.h"

#include <algorithm>
#include <utility>

namespace orb {

std::vector<RegionBox> regionBoxes(const cv::Mat& labels, int count)
{
    struct Run {
        int start, end, label; // end inclusive
    };
    CV_Assert(labels.type() == CV_32SC1);
    std::vector<RegionBox> boxes(static_cast<std::size_t>(count));
    std::vector<Run> above, here;
    // Regions come in runs along a row: one update per run, not per pixel.
    for (int y = 0; y < labels.rows; ++y) {
        const int* row = labels.ptr<int>(y);
        here.clear();
        for (int x = 0; x < labels.cols;) {
            const int label = row[x];
            const int start = x;
            while (x < labels.cols && row[x] == label) ++x;
            if (label == 0) continue; // the dark between the regions
            RegionBox& box = boxes[static_cast<std::size_t>(label)];
            if (box.top < 0) box.top = y;
            box.bottom = y;
            box.left = std::min(box.left, start);
            box.right = std::max(box.right, x - 1);
            box.pixels += x - start;
            ++box.runs;
            here.push_back({start, x - 1, label});
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

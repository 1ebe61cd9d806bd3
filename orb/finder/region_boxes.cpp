#include "orb/finder/region_boxes.h"

#include <algorithm>
#include <cstring>

namespace orb {

namespace {

struct Run {
    int row, start, end; // end inclusive
    int label;           // provisional, then final
    int joins;           // runs of the row above it touches
};

// The root of `label` in the union-find forest, halving the path on the way.
int rootOf(std::vector<int>& parent, int label)
{
    while (parent[static_cast<std::size_t>(label)] != label) {
        int& up = parent[static_cast<std::size_t>(label)];
        up = parent[static_cast<std::size_t>(up)];
        label = up;
    }
    return label;
}

} // namespace

LabelledRegions labelRegions(const cv::Mat& mask, int connectivity)
{
    CV_Assert(mask.type() == CV_8UC1 && (connectivity == 4 || connectivity == 8));
    // Eight-connected runs also touch a column apart, corner to corner.
    const int reach = connectivity == 8 ? 1 : 0;
    std::vector<Run> runs;
    std::vector<int> parent{0};
    std::size_t above = 0, aboveEnd = 0; // the row above's runs in `runs`
    const auto columns = static_cast<std::size_t>(mask.cols);
    for (int y = 0; y < mask.rows; ++y) {
        const uchar* row = mask.ptr<uchar>(y);
        const uchar* end = row + columns;
        const std::size_t here = runs.size();
        std::size_t touching = above; // the first run above that the next run here can touch
        // The runs are found in the bytes of the mask, a word at a time.
        for (const uchar* at = row; at < end;) {
            const auto* first = static_cast<const uchar*>(std::memchr(at, 255, static_cast<std::size_t>(end - at)));
            if (!first) break;
            const auto* past = static_cast<const uchar*>(std::memchr(first, 0, static_cast<std::size_t>(end - first)));
            if (!past) past = end;
            Run run{y, static_cast<int>(first - row), static_cast<int>(past - row) - 1, 0, 0};
            while (touching < aboveEnd && runs[touching].end + reach < run.start) ++touching;
            // Runs above past `touching` may touch the next run here too.
            for (std::size_t k = touching; k < aboveEnd && runs[k].start <= run.end + reach; ++k) {
                ++run.joins;
                const int other = rootOf(parent, runs[k].label);
                if (run.label == 0) {
                    run.label = other;
                } else {
                    const int mine = rootOf(parent, run.label);
                    // The smaller label is the root, so the final labels
                    // follow the regions' first pixels.
                    if (mine != other) parent[static_cast<std::size_t>(std::max(mine, other))] = std::min(mine, other);
                }
            }
            if (run.label == 0) {
                run.label = static_cast<int>(parent.size());
                parent.push_back(run.label);
            }
            runs.push_back(run);
            at = past;
        }
        above = here;
        aboveEnd = runs.size();
    }

    // Final labels in the order of the roots' first runs, which is the
    // order of the regions' first pixels.
    std::vector<int> final(parent.size(), 0);
    LabelledRegions regions;
    for (std::size_t i = 1; i < parent.size(); ++i) {
        const int root = rootOf(parent, static_cast<int>(i));
        if (root == static_cast<int>(i)) final[i] = regions.count++;
    }
    regions.labels = cv::Mat::zeros(mask.size(), CV_32S);
    regions.boxes.resize(static_cast<std::size_t>(regions.count));
    for (Run& run : runs) {
        run.label = final[static_cast<std::size_t>(rootOf(parent, run.label))];
        int* row = regions.labels.ptr<int>(run.row);
        std::fill(row + run.start, row + run.end + 1, run.label);
        RegionBox& box = regions.boxes[static_cast<std::size_t>(run.label)];
        if (box.top < 0) box.top = run.row;
        box.bottom = run.row;
        box.left = std::min(box.left, run.start);
        box.right = std::max(box.right, run.end);
        box.pixels += run.end - run.start + 1;
        ++box.runs;
        box.joins += run.joins;
    }
    return regions;
}

} // namespace orb

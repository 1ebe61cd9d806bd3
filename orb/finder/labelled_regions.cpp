#include "orb/finder/labelled_regions.h"

#include <algorithm>
#include <cstring>

namespace orb {

namespace {

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

LabelledRegions::LabelledRegions(const cv::Mat& mask, int connectivity) : size_(mask.size())
{
    CV_Assert(mask.type() == CV_8UC1 && (connectivity == 4 || connectivity == 8));
    // Eight-connected runs also touch a column apart, corner to corner.
    const int reach = connectivity == 8 ? 1 : 0;
    std::vector<int> parent{0};
    std::vector<int> joins; // per run: the runs of the row above it touches
    rowStart_.reserve(static_cast<std::size_t>(mask.rows) + 1);
    const auto columns = static_cast<std::size_t>(mask.cols);
    for (int y = 0; y < mask.rows; ++y) {
        const std::size_t above = y > 0 ? rowStart_.back() : 0, aboveEnd = runs_.size();
        rowStart_.push_back(runs_.size());
        const uchar* row = mask.ptr<uchar>(y);
        const uchar* end = row + columns;
        std::size_t touching = above; // the first run above that the next run here can touch
        // The runs are found in the bytes of the mask, a word at a time.
        for (const uchar* at = row; at < end;) {
            const auto* first = static_cast<const uchar*>(std::memchr(at, 255, static_cast<std::size_t>(end - at)));
            if (!first) break;
            const auto* past = static_cast<const uchar*>(std::memchr(first, 0, static_cast<std::size_t>(end - first)));
            if (!past) past = end;
            Run run{static_cast<int>(first - row), static_cast<int>(past - row) - 1, 0};
            int touches = 0;
            while (touching < aboveEnd && runs_[touching].end + reach < run.start) ++touching;
            // Runs above past `touching` may touch the next run here too.
            for (std::size_t k = touching; k < aboveEnd && runs_[k].start <= run.end + reach; ++k) {
                ++touches;
                const int other = rootOf(parent, runs_[k].label);
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
            runs_.push_back(run);
            joins.push_back(touches);
            at = past;
        }
    }
    rowStart_.push_back(runs_.size());

    // Final labels in the order of the roots' first runs, which is the
    // order of the regions' first pixels.
    std::vector<int> final(parent.size(), 0);
    int count = 1;
    for (std::size_t i = 1; i < parent.size(); ++i)
        if (rootOf(parent, static_cast<int>(i)) == static_cast<int>(i)) final[i] = count++;
    boxes_.resize(static_cast<std::size_t>(count));
    for (int y = 0; y < mask.rows; ++y)
        for (std::size_t i = rowStart_[static_cast<std::size_t>(y)]; i < rowStart_[static_cast<std::size_t>(y) + 1]; ++i) {
            Run& run = runs_[i];
            run.label = final[static_cast<std::size_t>(rootOf(parent, run.label))];
            RegionBox& box = boxes_[static_cast<std::size_t>(run.label)];
            if (box.top < 0) box.top = y;
            box.bottom = y;
            box.left = std::min(box.left, run.start);
            box.right = std::max(box.right, run.end);
            box.pixels += run.end - run.start + 1;
            ++box.runs;
            box.joins += joins[i];
        }
}

int LabelledRegions::labelAt(const cv::Point& at) const
{
    CV_Assert(at.inside(cv::Rect(0, 0, size_.width, size_.height)));
    const auto first = runs_.begin() + static_cast<std::ptrdiff_t>(rowStart_[static_cast<std::size_t>(at.y)]);
    const auto last = runs_.begin() + static_cast<std::ptrdiff_t>(rowStart_[static_cast<std::size_t>(at.y) + 1]);
    // The first run of the row that ends at or past the column.
    const auto run = std::partition_point(first, last, [&](const Run& r) { return r.end < at.x; });
    return run != last && run->start <= at.x ? run->label : 0;
}

cv::Mat LabelledRegions::maskOf(int label, const cv::Rect& area) const
{
    cv::Mat mask = cv::Mat::zeros(area.size(), CV_8UC1);
    const cv::Rect within = area & cv::Rect(0, 0, size_.width, size_.height);
    for (int y = within.y; y < within.y + within.height; ++y) {
        const auto first = runs_.begin() + static_cast<std::ptrdiff_t>(rowStart_[static_cast<std::size_t>(y)]);
        const auto last = runs_.begin() + static_cast<std::ptrdiff_t>(rowStart_[static_cast<std::size_t>(y) + 1]);
        uchar* row = mask.ptr<uchar>(y - area.y);
        for (auto run = std::partition_point(first, last, [&](const Run& r) { return r.end < within.x; });
             run != last && run->start < within.x + within.width; ++run) {
            if (run->label != label) continue;
            const int from = std::max(run->start, within.x), to = std::min(run->end, within.x + within.width - 1);
            std::memset(row + (from - area.x), 255, static_cast<std::size_t>(to - from + 1));
        }
    }
    return mask;
}

} // namespace orb

#include "app/code_area.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "orb/geometry/preprocessing.h"
#include "orb/logger.h"

namespace app {

namespace {

constexpr double kChangeThreshold = 50;

cv::Mat toGrey(const cv::Mat& image)
{
    // The caller may reuse the frame's buffer: a grey frame is copied.
    return image.channels() == 3 || image.channels() == 4 ? orb::greyImage(image) : image.clone();
}

// Weighted mean and standard deviation of the indices of `counts`.
void indexSpread(const cv::Mat& counts, double total, double& mean, double& deviation)
{
    const int* count = counts.ptr<int>();
    const int n = static_cast<int>(counts.total());
    double sum = 0;
    for (int i = 0; i < n; ++i) sum += static_cast<double>(i) * count[i];
    mean = sum / total;
    double squares = 0;
    for (int i = 0; i < n; ++i) squares += count[i] * (mean - i) * (mean - i);
    deviation = std::sqrt(squares / total);
}

} // namespace

cv::Rect CodeAreaFinder::find(const cv::Mat& image)
{
    cv::Mat grey = toGrey(image);
    if (previous_.size() != grey.size() || previous_.type() != grey.type()) {
        previous_ = grey;
        return {0, 0, image.cols, image.rows};
    }
    cv::Mat diff;
    cv::absdiff(grey, previous_, diff);
    previous_ = grey;

    cv::Mat changed;
    cv::threshold(diff, changed, kChangeThreshold, 1, cv::THRESH_BINARY);
    cv::Mat rowCount, colCount;
    cv::reduce(changed, rowCount, 1, cv::REDUCE_SUM, CV_32S);
    cv::reduce(changed, colCount, 0, cv::REDUCE_SUM, CV_32S);

    const double n = cv::sum(rowCount)[0];
    if (n < (static_cast<long long>(grey.rows) * grey.cols) / 20 || n == 0) return {};

    double meanRow, sdRow, meanCol, sdCol;
    indexSpread(rowCount, n, meanRow, sdRow);
    indexSpread(colCount, cv::sum(colCount)[0], meanCol, sdCol);

    const int side = static_cast<int>(2.5 * std::max(sdRow, sdCol));
    const int half = side / 2;
    const int x = std::max(static_cast<int>(meanCol) - half, 0);
    const int y = std::max(static_cast<int>(meanRow) - half, 0);
    const int width = x + side > grey.cols ? grey.cols - x : side;
    const int height = y + side > grey.rows ? grey.rows - y : side;
    orb::logger().line(orb::LogLevel::Trace, "Code area: ", "[", width, " x ", height, " from (", x, ", ", y, ")]");
    return {x, y, width, height};
}

CodeAreaFinder& cameraCodeAreaFinder()
{
    static CodeAreaFinder finder;
    return finder;
}

cv::Rect findCodeArea(const cv::Mat& image) { return cameraCodeAreaFinder().find(image); }

} // namespace app

#include "orb/geometry/blob_detector.h"

#include <algorithm>
#include <cmath>

#include "orb/geometry/preprocessing.h"

namespace orb {

namespace {

// True when the contour runs the way OpenCV traces a hole border, judged at
// its rightmost (then lowest) point.
bool isHoleBorder(const std::vector<cv::Point>& contour)
{
    const std::size_t n = contour.size();
    if (n < 3) return false;
    std::size_t p = 0;
    for (std::size_t i = 1; i < n; ++i) {
        const cv::Point& c = contour[i];
        const cv::Point& best = contour[p];
        if (c.x > best.x || (c.x == best.x && c.y > best.y)) p = i;
    }
    const cv::Point& P = contour[p];
    const cv::Point& A = contour[(p + n - 1) % n];
    const cv::Point& B = contour[(p + 1) % n];
    const long long lhs = static_cast<long long>(A.x - P.x) * (B.y - P.y);
    const long long rhs = static_cast<long long>(B.x - P.x) * (A.y - P.y);
    return lhs < rhs;
}

} // namespace

void BlobDetector::findBlobs(const cv::Mat&, const cv::Mat& binaryImage, std::vector<BlobCenter>& centers,
                             std::vector<std::vector<cv::Point>>& contours, std::vector<cv::Moments>& moments) const
{
    centers.clear();
    contours.clear();
    moments.clear();

    std::vector<std::vector<cv::Point>> found;
    cv::findContours(binaryImage, found, cv::RETR_LIST, cv::CHAIN_APPROX_NONE); // leaves the image as it is

    for (auto& contour : found) {
        // Most contours are specks the area filter drops: their area costs
        // one pass, their moments several. For whole-pixel points both are
        // exact sums, so the area is the moments' m00.
        if (params.filterByArea) {
            const double area = cv::contourArea(contour);
            if (area < params.minArea || area >= params.maxArea) continue;
        }
        const cv::Moments m = cv::moments(contour);
        BlobCenter center;
        center.confidence = 1;

        if (params.filterByCircularity) {
            const double perimeter = cv::arcLength(contour, true);
            const double ratio = 4 * CV_PI * m.m00 / (perimeter * perimeter);
            if (ratio < params.minCircularity || ratio >= params.maxCircularity) continue;
        }
        if (params.filterByInertia) {
            const double d = std::sqrt(std::pow(2 * m.mu11, 2) + std::pow(m.mu20 - m.mu02, 2));
            double ratio = 1;
            if (d > 0.01) {
                const double c = (m.mu20 - m.mu02) / d;
                const double s = 2 * m.mu11 / d;
                const double imin = 0.5 * (m.mu20 + m.mu02) - 0.5 * (m.mu20 - m.mu02) * c - m.mu11 * s;
                const double imax = 0.5 * (m.mu20 + m.mu02) + 0.5 * (m.mu20 - m.mu02) * c + m.mu11 * s;
                ratio = imin / imax;
            }
            if (ratio < params.minInertiaRatio || ratio >= params.maxInertiaRatio) continue;
            center.confidence = ratio * ratio;
        }
        if (params.filterByConvexity) {
            std::vector<cv::Point> hull;
            cv::convexHull(contour, hull);
            const double ratio = cv::contourArea(contour) / cv::contourArea(hull);
            if (ratio < params.minConvexity || ratio >= params.maxConvexity) continue;
        }
        // A zero-area contour has no location; no filter above may have caught it.
        if (m.m00 == 0) continue;
        center.location = cv::Point2d(m.m10 / m.m00, m.m01 / m.m00);

        if (params.filterByColor) {
            const int x = cvRound(center.location.x);
            const int y = cvRound(center.location.y);
            if (x < 0 || y < 0 || x >= binaryImage.cols || y >= binaryImage.rows) continue;
            if (binaryImage.at<uchar>(y, x) != params.blobColor) continue;
            if (isHoleBorder(contour)) continue;
        }

        std::vector<double> distances;
        distances.reserve(contour.size());
        for (const cv::Point& point : contour) distances.push_back(cv::norm(center.location - cv::Point2d(point)));
        std::sort(distances.begin(), distances.end());
        const std::size_t n = distances.size();
        center.radius = (distances[(n - 1) / 2] + distances[n / 2]) / 2.;

        centers.push_back(center);
        contours.push_back(std::move(contour));
        moments.push_back(m);
    }
}

void BlobDetector::detect(cv::InputArray image, std::vector<cv::KeyPoint>& keypoints, cv::InputArray)
{
    keypoints.clear();
    blobContours.clear();
    blobMoments.clear();

    const cv::Mat gray = greyImage(image.getMat());

    // Otsu's threshold leaves an image of only 0 and 255 as it is; such an
    // image (the inner circle search's, mostly) skips the costly histogram.
    cv::Mat between;
    cv::inRange(gray, 1, 254, between);
    cv::Mat binary = gray;
    if (cv::countNonZero(between) > 0) cv::threshold(gray, binary, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);

    std::vector<BlobCenter> centers;
    std::vector<std::vector<cv::Point>> contours;
    std::vector<cv::Moments> moments;
    findBlobs(gray, binary, centers, contours, moments);

    // Groups of centres that lie on top of each other across threshold levels.
    // With the one level every centre starts its own group; the grouping is
    // kept so the detector stays a drop-in for a multi-level one.
    struct Group {
        std::vector<BlobCenter> centers;
        std::vector<cv::Point> contour;
        cv::Moments moments;
    };
    std::vector<Group> groups;
    std::vector<Group> newGroups;
    for (std::size_t i = 0; i < centers.size(); ++i) {
        const BlobCenter& center = centers[i];
        bool joined = false;
        for (Group& group : groups) {
            const BlobCenter& middle = group.centers[group.centers.size() / 2];
            const double distance = cv::norm(middle.location - center.location);
            if (distance < params.minDistBetweenBlobs || distance < middle.radius || distance < center.radius) {
                auto at = std::upper_bound(group.centers.begin(), group.centers.end(), center,
                                           [](const BlobCenter& a, const BlobCenter& b) { return a.radius < b.radius; });
                group.centers.insert(at, center);
                joined = true;
                break;
            }
        }
        if (!joined) newGroups.push_back(Group{{center}, contours[i], moments[i]});
    }
    for (Group& group : newGroups) groups.push_back(std::move(group));

    for (const Group& group : groups) {
        if (group.centers.size() < params.minRepeatability) continue;
        cv::Point2d sum(0, 0);
        double weights = 0;
        for (const BlobCenter& center : group.centers) {
            sum += center.confidence * center.location;
            weights += center.confidence;
        }
        cv::KeyPoint keypoint;
        keypoint.pt = cv::Point2f(static_cast<float>(sum.x / weights), static_cast<float>(sum.y / weights));
        keypoint.size = static_cast<float>(group.centers[group.centers.size() / 2].radius);
        keypoint.angle = -1;
        keypoint.response = 0;
        keypoint.octave = 0;
        keypoint.class_id = -1;
        keypoints.push_back(keypoint);
        blobContours.push_back(group.contour);
        blobMoments.push_back(group.moments);
    }
}

} // namespace orb

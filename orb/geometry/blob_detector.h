#pragma once
// Single-level blob detector for the inner circle search. The library's own
// simple blob detector thresholds at several levels and keeps the borders of
// holes; this one thresholds once (Otsu) and drops hole borders, and it keeps
// the contour and moments of every blob it reports.
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

namespace orb {

class BlobDetector : public cv::SimpleBlobDetector {
public:
    struct BlobCenter {
        cv::Point2d location;
        double radius = 0;
        double confidence = 0;
    };

    explicit BlobDetector(const cv::SimpleBlobDetector::Params& parameters) : params(parameters) {}

    using cv::SimpleBlobDetector::detect;
    // The mask is ignored. Afterwards blobContours and blobMoments hold one
    // entry per keypoint, in keypoint order.
    void detect(cv::InputArray image, std::vector<cv::KeyPoint>& keypoints,
                cv::InputArray mask = cv::noArray()) override;

    virtual void setParams(const cv::SimpleBlobDetector::Params& parameters) { params = parameters; }
    virtual cv::SimpleBlobDetector::Params getParams() const { return params; }

    // Clears the outputs and fills them with one entry per accepted blob.
    virtual void findBlobs(const cv::Mat& image, const cv::Mat& binaryImage, std::vector<BlobCenter>& centers,
                           std::vector<std::vector<cv::Point>>& contours, std::vector<cv::Moments>& moments) const;

    std::vector<std::vector<cv::Point>> blobContours;
    std::vector<cv::Moments> blobMoments;
    cv::SimpleBlobDetector::Params params;
};

} // namespace orb

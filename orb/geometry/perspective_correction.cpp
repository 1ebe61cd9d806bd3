#include "orb/geometry/perspective_correction.h"

#include <opencv2/imgproc.hpp>

#include "orb/detection/inner_zebra.h"
#include "orb/detection/radial_zebra.h"
#include "orb/detection/start_marker.h"
#include "orb/geometry/image_corrections.h"
#include "orb/logger.h"

namespace orb {

namespace {

// A context for a stage retried on a corrected image: the outputs and the
// source image pass through, the transform accumulates.
DetectionContext correctedContext(const DetectionContext& old, const cv::Matx33d& transform)
{
    DetectionContext context;
    context.payload = old.payload;
    context.dataType = old.dataType;
    context.eccType = old.eccType;
    context.sourceImage = old.sourceImage;
    context.homography = transform * old.homography;
    context.modulesPerRing = old.modulesPerRing;
    context.innerZebraRadius = old.innerZebraRadius;
    return context;
}

} // namespace

ResultCode detectCode(const StageInput& input, const DetectionContext& context, const cv::RotatedRect& circle)
{
    const double R = std::max(circle.size.width, circle.size.height) / 2.0f;
    const ResultCode rc = detectInnerZebra(input, context, R);
    if (rc == Success) return rc;

    const CorrectedImage corrected = affineTransform(input, circle, R);
    StartMarker startMarker;
    ZebraResult zebra;
    // The affine fit replaces the incoming transform, which is still the identity here.
    DetectionContext retry = correctedContext(context, corrected.transform);
    retry.homography = corrected.transform;
    retry.startMarker = &startMarker;
    retry.zebra = &zebra;
    retry.modulesPerRing = 0;
    retry.innerZebraRadius = 0;
    return detectInnerZebra(StageInput{input.config, corrected.image}, retry, R);
}

ResultCode correctWithInnerZebra(const StageInput& input, const DetectionContext& context,
                                 const ZebraResult& innerZebra, double R)
{
    const ResultCode rc = detectStartMarker(input, context, R);
    if (rc == Success) return rc;

    const CorrectedImage corrected = perspectiveTransform1(input, innerZebra);
    // Features that admit no fit leave nothing to retry on.
    if (corrected.image.empty()) return rc;
    StartMarker startMarker;
    ZebraResult zebra;
    DetectionContext retry = correctedContext(context, corrected.transform);
    retry.startMarker = &startMarker;
    retry.zebra = &zebra;
    return detectStartMarker(StageInput{input.config, corrected.image}, retry, R);
}

ResultCode correctWithOuterZebra(const StageInput& input, const DetectionContext& context)
{
    StartMarker S = *context.startMarker;
    const ResultCode rc =
        detectRadialZebra(input.config, makeRadialZebraSearch(input.image, S, context.modulesPerRing), context);
    if (rc == Success) return rc;

    const CorrectedImage corrected = perspectiveTransform2(input, S, *context.zebra);
    if (corrected.image.empty()) return rc;
    const RadialZebraSearch search = makeRadialZebraSearch(corrected.image, S, context.modulesPerRing);
    DetectionContext retry = correctedContext(context, corrected.transform);
    retry.startMarker = &S;
    retry.zebra = context.zebra;
    return detectRadialZebra(input.config, search, retry);
}

cv::Mat finalTransform(const StageInput& input, const cv::Mat& sourceImage, const cv::Matx33d& homography,
                       const StartMarker& startMarker)
{
    cv::Mat F;
    cv::warpPerspective(sourceImage, F, homography, sourceImage.size(), cv::INTER_NEAREST, cv::BORDER_REPLICATE);

    // Keep only the ring between the inner circle and the bar's outer end;
    // everything else becomes white so stray marks cannot be sampled.
    const cv::Point2d C(input.image.cols / 2.0, input.image.rows / 2.0);
    const cv::Point Ci(cvRound(C.x), cvRound(C.y));
    cv::Mat mask(F.size(), F.type(), cv::Scalar::all(255));
    const int outer = static_cast<int>(cv::norm(C - startMarker.barEnd)) + 2;
    cv::circle(mask, Ci, outer, cv::Scalar::all(0), cv::FILLED, cv::LINE_8);
    const int inner = static_cast<int>(cv::norm(C - startMarker.rayStart)) - 2;
    if (inner >= 0) cv::circle(mask, Ci, inner, cv::Scalar::all(255), cv::FILLED, cv::LINE_8);
    cv::bitwise_or(F, mask, F);

    if (F.channels() == 1) cv::cvtColor(F, F, cv::COLOR_GRAY2BGR);
    else if (F.channels() == 4) cv::cvtColor(F, F, cv::COLOR_BGRA2BGR); // grid reading samples three channels
    logger().line(LogLevel::Debug, "        finalTransform");
    return F;
}

} // namespace orb

#pragma once
// What the camera window draws over the frame: the codes just read (outer
// ring, centre, text), the finder's unread candidates in the binarised view,
// and the status line.
#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "orb/reader.h"

namespace app {

// A read code as the window marks it, in the shown frame's pixels.
struct CodeMark {
    std::string text;
    cv::Point2f centre;
    std::vector<cv::Point2f> outline;
    std::int64_t readTicks = 0;
};

// The marks on show. A code stays marked for a moment after its last read,
// so a person can see it, then fades out; a read of the same code at the
// same place renews its mark instead of adding one.
class ReadMarks {
public:
    void add(const orb::ReadResult& code, std::int64_t nowTicks);
    // Hubs of the places the finder tried without reading a code.
    void setCandidates(std::vector<cv::RotatedRect> hubs, std::int64_t nowTicks);
    // Drops the marks that have faded out.
    void expire(std::int64_t nowTicks);
    // Draws the marks still on show; the candidates only when asked (the
    // binarised view). A one-channel frame becomes BGR when there is
    // something to draw.
    void draw(cv::Mat& frame, std::int64_t nowTicks, bool withCandidates) const;

    const std::vector<CodeMark>& codes() const { return codes_; }

private:
    std::vector<CodeMark> codes_;
    std::vector<cv::RotatedRect> candidates_;
    std::int64_t candidatesTicks_ = 0;
};

// The status line laid out for a frame width: one line at the usual size
// when it fits, else split in two at a separator and scaled down as far as
// the width needs.
struct StatusLayout {
    std::vector<std::string> lines;
    double scale = 1;
    int lineHeight = 0; // pixels from one baseline to the next
};
StatusLayout layoutStatusLine(const std::string& text, int frameWidth);

// Draws the status line at the top of `frame`, on a darkened band.
void drawStatusLine(cv::Mat& frame, const std::string& text);

} // namespace app

#pragma once
// The live camera run: grab frames, apply the chosen modifications, decode
// the part that moved, and react to keys pressed in the "Camera" window.
#include <cstdint>
#include <functional>
#include <iostream>
#include <ostream>
#include <string>

#include <opencv2/core.hpp>

#include "app/code_area.h"
#include "app/file_mode.h"
#include "app/image_modification.h"
#include "app/read_overlay.h"
#include "app/settings.h"
#include "orb/reader.h"

namespace app {

inline constexpr const char* kCameraWindow = "Camera";

// What the keys change during one camera run.
struct CameraRunState {
    int codeType = 0; // orb::CodeType
    bool measuring = true;
    bool showOutput = true;
    bool binarized = false;
    bool enhanced = false;
    bool inverted = false;
    bool escapeText = false; // decoded text goes to a terminal: control characters escaped
    DistortionTarget target = DistortionTarget::None;
    DistortionLevels levels;
    std::uint64_t frameCount = 0;
    std::int64_t startTicks = 0;
    std::uint64_t faultedFrames = 0; // frames whose decode raised an unexpected error
    // The code finder runs on a whole frame no sooner than this; see processCameraFrame.
    std::int64_t nextFinderTicks = 0;
    // The hub of the code read last, in the frame's pixels; empty when the
    // search since read none. The next search looks there first.
    cv::RotatedRect lastHub;
    // The codes read lately, marked on the shown frame.
    ReadMarks marks;
};

// The read the frame work calls; replaceable so a test can make it fail.
using FrameReader = std::function<orb::ReadResult(const cv::Mat&, const ConsoleRead&)>;

// Applies one key code from the window; returns false when it ends the run.
bool handleCameraKey(CameraRunState& state, int key, std::ostream& out);

// "30 fps | BlackAndWhite | Inverted: false | Binarized: false | Enhanced: false"
std::string cameraStatusText(const CameraRunState& state, int fps);

// One frame's work before it is shown: counts it, applies inversion,
// binarisation and distortions to `frame` in place, decodes the area that
// moved and writes an "Output:" line for a code read. When the moved area
// gives nothing, the code finder searches the whole frame; a search that
// takes longer than a frame at 30 fps holds the next one off by its excess.
// A code read is added to `state.marks` where it lies in the frame; in the
// binarised view, so are the places the finder tried in vain. A search
// after one that read a code looks first around where that code's hub was,
// a fraction of the frame; the whole frame only when it is not there. Any error
// raised while the frame is searched and decoded counts as a failed decode
// of that frame and is logged; it never ends the run. Returns the average
// frame rate of the run so far.
int processCameraFrame(CameraRunState& state, cv::Mat& frame, CodeAreaFinder& finder, std::ostream& out,
                       const FrameReader& read = readConsole);

// One camera run with the camera of `settings`; writes back the frame size
// the camera delivers, a refused mode as -1 and, when the user ends the run,
// the code type chosen in the window.
void runCamera(AppSettings& settings);

} // namespace app

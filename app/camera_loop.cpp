#include "app/camera_loop.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "console/escaped_text.h"
#include "app/file_mode.h"
#include "orb/finder/code_finder.h"
#include "orb/geometry/preprocessing.h"
#include "orb/logger.h"

namespace app {

namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kTicksPerMillisecond = 10000;
// A source that delivers nothing for this long has ended.
constexpr std::int64_t kStreamSilenceTicks = 2 * kTicksPerSecond;
constexpr int kEscape = 27;
// A whole-frame search longer than a frame at 30 fps holds the next one off
// by what it overran, so the loop keeps about 30 fps on a slow machine.
constexpr std::int64_t kFinderBudgetTicks = kTicksPerSecond / 30;

const char* flagText(bool flag) { return flag ? "true" : "false"; }

// True when an X display can be reached. The window toolkit ends the
// process when it finds none, so a missing display has to be caught first.
bool displayAvailable(std::string& reason)
{
    // A platform other than X chosen by the user (offscreen, wayland, ...).
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0' && std::strncmp(platform, "xcb", 3) != 0) return true;
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        reason = "no display available (DISPLAY is not set)";
        return false;
    }
    const std::string name = display;
    const std::size_t colon = name.rfind(':');
    // Remote displays are reached over the network; leave them to the toolkit.
    if (colon == std::string::npos || (colon != 0 && name.compare(0, colon, "unix") != 0)) return true;
    const std::string number = name.substr(colon + 1, name.find('.', colon) - colon - 1);
    const std::string socketPath = "/tmp/.X11-unix/X" + number;

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // The socket file first, then the abstract name the server also listens on.
    for (bool abstract : {false, true}) {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0) break;
        std::memset(address.sun_path, 0, sizeof address.sun_path);
        std::strncpy(address.sun_path + (abstract ? 1 : 0), socketPath.c_str(), sizeof address.sun_path - 2);
        const socklen_t length =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + (abstract ? 1 : 0) + socketPath.size());
        const bool connected = connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
        close(fd);
        if (connected) return true;
    }
    reason = "cannot connect to display '" + name + "'";
    return false;
}

// Opens the capture the settings name; writes the failure to standard error.
bool openCapture(cv::VideoCapture& capture, const AppSettings& settings)
{
    if (!settings.launch.empty()) {
        if (capture.open(settings.launch, settings.backend)) return true;
        std::cerr << "Couldn't open camera '" << settings.launch << "' with backend " << settings.backend << std::endl;
        return false;
    }
    if (capture.open(settings.device, settings.backend)) return true;
    std::cerr << "Couldn't open camera device " << settings.device << " with backend " << settings.backend
              << std::endl;
    return false;
}

void negotiateFormat(cv::VideoCapture& capture, AppSettings& settings)
{
    if (settings.mode >= 0 && !capture.set(cv::CAP_PROP_MODE, settings.mode)) {
        orb::logger().line(orb::LogLevel::Warning, "Camera mode ", settings.mode, " not supported. Use default mode.");
        settings.mode = -1;
    }
    if (!capture.set(cv::CAP_PROP_FRAME_WIDTH, settings.width) ||
        !capture.set(cv::CAP_PROP_FRAME_HEIGHT, settings.height))
        orb::logger().line(orb::LogLevel::Warning, "Frame size ", settings.width, " x ", settings.height,
                           " not supported. Use last valid size.");
    settings.width = static_cast<int>(capture.get(cv::CAP_PROP_FRAME_WIDTH));
    settings.height = static_cast<int>(capture.get(cv::CAP_PROP_FRAME_HEIGHT));
    capture.set(cv::CAP_PROP_CONVERT_RGB, 1);
}

// Closes the window and the capture, whatever state they are in.
void closeCamera(cv::VideoCapture& capture, bool windowOpen)
{
    if (windowOpen) {
        try {
            cv::destroyWindow(kCameraWindow);
            cv::waitKey(1); // lets the toolkit take the window off the screen
        } catch (const std::exception&) {
        }
    }
    capture.release();
}

// One odd frame must not end a live run. Warn once per run, then keep the
// console quiet: a fault that repeats would flood it.
void reportFaultedFrame(CameraRunState& state, const std::exception& error)
{
    const orb::LogLevel level = state.faultedFrames++ == 0 ? orb::LogLevel::Warning : orb::LogLevel::Debug;
    orb::logger().line(level, "Frame ", state.frameCount, " not decoded: ", error.what());
}

// `code` as read in a part of the frame whose top left corner is `corner`,
// moved to the frame's pixels.
orb::ReadResult inFrame(orb::ReadResult code, cv::Point corner)
{
    const cv::Point2f shift(static_cast<float>(corner.x), static_cast<float>(corner.y));
    code.position.centre += shift;
    for (cv::Point2f& point : code.position.outline) point += shift;
    code.position.outerRing.center += shift;
    code.position.hub.center += shift;
    return code;
}

// Between two frames a hand-held code moves a few pixels and a waved one a
// few tens: the search for it looks around where its hub was, the hub and
// its ring (a third more) with room to spare, and that much each way.
cv::Rect aroundLastHub(const cv::RotatedRect& hub, const cv::Size& frame)
{
    if (hub.size.area() <= 0) return {};
    const int reach = cvCeil(0.75 * std::max(hub.size.width, hub.size.height)) + 32;
    const cv::Point centre(cvRound(hub.center.x), cvRound(hub.center.y));
    return cv::Rect(centre.x - reach, centre.y - reach, 2 * reach, 2 * reach) & cv::Rect(cv::Point(0, 0), frame);
}

// The hubs of the places the finder looks at in `frame`, for the binarised
// view: seeing where it looked explains why nothing was read.
std::vector<cv::RotatedRect> candidateHubs(const cv::Mat& frame)
{
    std::vector<cv::RotatedRect> hubs;
    for (const orb::CodeCandidate& candidate : orb::findCodeCandidates(frame)) hubs.push_back(candidate.hub);
    return hubs;
}

} // namespace

bool handleCameraKey(CameraRunState& state, int key, std::ostream& out)
{
    if (key == kEscape || key == 'x') return false;
    if (key >= '0' && key <= '9') {
        setDistortionLevel(state.levels, state.target, key - '0', out);
        return true;
    }
    switch (key) {
    case ' ':
        state.target = DistortionTarget::None;
        state.levels = {};
        state.codeType = 0;
        out << "No Distortion, code type = BlackAndWhite" << std::endl;
        break;
    case 'p':
        state.target = DistortionTarget::Perspective;
        out << "Perspective Distortion [0,9]" << std::endl;
        break;
    case 'n':
        state.target = DistortionTarget::Noise;
        out << "Noise [0,9]" << std::endl;
        break;
    case 'a':
        state.target = DistortionTarget::Area;
        out << "Area Destruction [0,9]" << std::endl;
        break;
    case 'c':
        if (state.codeType != 0) {
            out << "Set code type to BlackAndWhite" << std::endl;
            state.codeType = 0;
        } else {
            out << "Set code type to Color" << std::endl;
            state.codeType = 1;
        }
        break;
    case 'b': state.binarized = !state.binarized; break;
    case 'e': state.enhanced = !state.enhanced; break;
    case 'i': state.inverted = !state.inverted; break;
    case 't': state.measuring = !state.measuring; break;
    case 'v': state.showOutput = !state.showOutput; break;
    case 'h': printModificationOptions(out); break;
    default: break;
    }
    return true;
}

std::string cameraStatusText(const CameraRunState& state, int fps)
{
    return std::to_string(fps) + " fps | " + codeTypeName(state.codeType) + " | Inverted: " +
           flagText(state.inverted) + " | Binarized: " + flagText(state.binarized) +
           " | Enhanced: " + flagText(state.enhanced);
}

int processCameraFrame(CameraRunState& state, cv::Mat& frame, CodeAreaFinder& finder, std::ostream& out,
                       const FrameReader& read)
{
    ++state.frameCount;
    if (state.inverted) cv::bitwise_not(frame, frame);
    if (state.binarized) {
        if (state.enhanced) frame = orb::enhanceImage(frame, state.codeType);
        frame = orb::binarizeImage(frame, state.codeType);
    }
    frame = distortImage(state.levels, frame);

    // Guarded: the first frame can arrive within the clock's resolution.
    const double seconds = static_cast<double>(currentTicks() - state.startTicks) / kTicksPerSecond;
    const int fps = seconds > 0 ? static_cast<int>(state.frameCount / seconds) : 0;

    const std::int64_t t1 = currentTicks();
    state.marks.expire(t1);
    orb::DecoderConfiguration config;
    config.codeType = state.codeType;
    // Marks the code and prints its text; true when it had one.
    const auto take = [&](const orb::ReadResult& code) {
        state.marks.add(code, currentTicks());
        state.lastHub = code.position.hub;
        if (code.bytes.empty()) return false;
        const int decodeMs = static_cast<int>((currentTicks() - t1) / kTicksPerMillisecond);
        out << "Output:\t" << (state.escapeText ? console::escaped(code.text()) : code.text());
        if (state.measuring) out << "\t" << decodeMs << " ms, " << "\t" << fps << " fps";
        out << std::endl;
        return true;
    };
    bool printed = false;
    bool greyMade = false; // the area finder's grey frame is this frame's
    try {
        const cv::Rect area = finder.find(frame);
        greyMade = true;
        if (area.width > 0 && area.height > 0) {
            // The area as one code; searching it is left to the whole-frame finder below.
            ConsoleRead options = findCodeOptions(config);
            options.wholeImage = true;
            options.reader.findCodes = false;
            options.reader.enhance = state.enhanced;
            const orb::ReadResult code = read(frame(area), options);
            if (code) printed = take(inFrame(code, area.tl()));
        }
    } catch (const orb::OCException&) {
        // An area the reader cannot take: nothing to read in it.
    } catch (const std::exception& error) {
        reportFaultedFrame(state, error);
    }
    // A still scene, a shaking view or an area that cuts the code: search
    // the whole frame, within the time the frame rate leaves.
    if (!printed && currentTicks() >= state.nextFinderTicks) {
        const std::int64_t searchStart = currentTicks();
        // A black-and-white search reads grey only: the grey frame the area
        // finder has just made saves converting it again.
        const bool greyRead = greyMade && state.codeType == orb::BlackAndWhite;
        const cv::Mat& searched = greyRead ? finder.lastGrey() : frame;
        try {
            orb::ReadResult code;
            if (const cv::Rect near = aroundLastHub(state.lastHub, frame.size()); !near.empty()) {
                ConsoleRead options = findCodeOptions(config);
                options.searchArea = near;
                code = read(searched, options);
            }
            if (!code) code = read(searched, findCodeOptions(config));
            if (code) {
                take(code);
            } else {
                state.lastHub = {};
                if (state.binarized) state.marks.setCandidates(candidateHubs(frame), currentTicks());
            }
        } catch (const std::exception& error) {
            state.lastHub = {};
            reportFaultedFrame(state, error);
        }
        const std::int64_t now = currentTicks();
        state.nextFinderTicks = now + std::max<std::int64_t>(0, now - searchStart - kFinderBudgetTicks);
    }
    return fps;
}

void runCamera(AppSettings& settings)
{
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    cv::VideoCapture capture;
    bool windowOpen = false;
    try {
        if (!openCapture(capture, settings)) return;
        negotiateFormat(capture, settings);
        // A source that knows its length is a file: its end is final.
        const bool fileSource = capture.get(cv::CAP_PROP_FRAME_COUNT) > 0;

        CameraRunState state;
        state.codeType = settings.codeType;
        state.escapeText = isatty(STDOUT_FILENO) != 0;
        printModificationOptions(std::cout);
        std::string reason;
        if (!displayAvailable(reason)) throw std::runtime_error("Camera window cannot be shown: " + reason);
        cv::namedWindow(kCameraWindow, cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL); // no toolbar over the picture
        windowOpen = true;
        state.startTicks = currentTicks();
        std::int64_t lastFrameTicks = state.startTicks;
        CodeAreaFinder& finder = cameraCodeAreaFinder();

        for (;;) {
            cv::Mat frame;
            const bool read = capture.read(frame);
            if (frame.empty()) {
                if ((!read && fileSource) || currentTicks() - lastFrameTicks > kStreamSilenceTicks) {
                    settings.codeType = state.codeType;
                    closeCamera(capture, windowOpen);
                    std::cerr << "Camera stream ended" << std::endl;
                    return;
                }
                if (!read) std::this_thread::sleep_for(std::chrono::milliseconds(5)); // a failing source returns at once
                continue;
            }
            lastFrameTicks = currentTicks();

            const int fps = processCameraFrame(state, frame, finder, std::cout);
            state.marks.draw(frame, currentTicks(), state.binarized);
            drawStatusLine(frame, cameraStatusText(state, fps));
            const int key = cv::waitKey(1);
            if (!handleCameraKey(state, key, std::cout)) {
                settings.codeType = state.codeType;
                closeCamera(capture, windowOpen);
                return;
            }
            if (state.showOutput) cv::imshow(kCameraWindow, frame);
        }
    } catch (const std::exception& error) {
        std::cerr << "Error: " << error.what() << std::endl;
    } catch (...) {
        std::cerr << "Error: " << std::strerror(errno) << std::endl;
    }
    closeCamera(capture, windowOpen);
}

} // namespace app

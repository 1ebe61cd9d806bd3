#pragma once
// Listing of the video capture devices and the frame sizes they offer, so
// the user can pick a device number and a size the camera will accept.
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace app {

struct FrameSize {
    int width = 0;
    int height = 0;
};

struct CameraDevice {
    int number = 0;   // the index the capture opens this device with
    std::string name; // the driver's card name
    // Frame sizes over all pixel formats, as the driver reports them: in any
    // order, possibly repeated.
    std::vector<FrameSize> frameSizes;
};

// Source of the device list; the platform one, or made-up devices in tests.
class CameraEnumerator {
public:
    virtual ~CameraEnumerator() = default;
    // Capture devices in device number order.
    virtual std::vector<CameraDevice> devices() const = 0;
};

// Video4Linux: the /dev/videoN nodes that can capture video.
class V4l2CameraEnumerator : public CameraEnumerator {
public:
    explicit V4l2CameraEnumerator(std::string deviceDirectory = "/dev");
    std::vector<CameraDevice> devices() const override;

private:
    std::string deviceDirectory_;
};

// Writes the header, then each device as "N) name" followed by its distinct
// frame sizes, smallest width first, one per line after a tab.
void printCameraDevices(const CameraEnumerator& enumerator, std::ostream& out);

// printCameraDevices for the platform's devices on standard output.
void listCameraDevices();

} // namespace app

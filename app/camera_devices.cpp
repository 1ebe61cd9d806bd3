#include "app/camera_devices.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <system_error>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace app {

namespace {

// Retries the calls that a signal interrupted.
int control(int fd, unsigned long request, void* argument)
{
    int result;
    do {
        result = ioctl(fd, request, argument);
    } while (result == -1 && errno == EINTR);
    return result;
}

class DeviceHandle {
public:
    explicit DeviceHandle(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_NONBLOCK)) {}
    ~DeviceHandle()
    {
        if (fd_ >= 0) close(fd_);
    }
    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

// N of a "videoN" entry, or -1 for any other name.
int videoNodeNumber(const std::string& name)
{
    const std::string prefix = "video";
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return -1;
    const std::string digits = name.substr(prefix.size());
    if (digits.size() > 6 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return -1;
    return std::stoi(digits);
}

bool capturesVideo(const v4l2_capability& capability)
{
    // device_caps describes this node; capabilities the whole physical device.
    const std::uint32_t caps =
        (capability.capabilities & V4L2_CAP_DEVICE_CAPS) ? capability.device_caps : capability.capabilities;
    return (caps & V4L2_CAP_VIDEO_CAPTURE) != 0;
}

std::vector<FrameSize> discreteFrameSizes(int fd)
{
    std::vector<FrameSize> sizes;
    v4l2_fmtdesc format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (format.index = 0; control(fd, VIDIOC_ENUM_FMT, &format) == 0; ++format.index) {
        v4l2_frmsizeenum size{};
        size.pixel_format = format.pixelformat;
        for (size.index = 0; control(fd, VIDIOC_ENUM_FRAMESIZES, &size) == 0; ++size.index) {
            if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE) break; // ranges name no listed sizes
            sizes.push_back({static_cast<int>(size.discrete.width), static_cast<int>(size.discrete.height)});
        }
    }
    return sizes;
}

} // namespace

V4l2CameraEnumerator::V4l2CameraEnumerator(std::string deviceDirectory) : deviceDirectory_(std::move(deviceDirectory)) {}

std::vector<CameraDevice> V4l2CameraEnumerator::devices() const
{
    std::vector<int> numbers;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(deviceDirectory_, error), end; !error && entry != end;
         entry.increment(error)) {
        const int number = videoNodeNumber(entry->path().filename().string());
        if (number >= 0) numbers.push_back(number);
    }
    std::sort(numbers.begin(), numbers.end());

    std::vector<CameraDevice> found;
    for (int number : numbers) {
        DeviceHandle device(deviceDirectory_ + "/video" + std::to_string(number));
        if (device.fd() < 0) continue;
        v4l2_capability capability{};
        if (control(device.fd(), VIDIOC_QUERYCAP, &capability) != 0 || !capturesVideo(capability)) continue;
        const char* card = reinterpret_cast<const char*>(capability.card);
        CameraDevice camera;
        camera.number = number;
        camera.name.assign(card, strnlen(card, sizeof capability.card));
        camera.frameSizes = discreteFrameSizes(device.fd());
        found.push_back(std::move(camera));
    }
    return found;
}

void printCameraDevices(const CameraEnumerator& enumerator, std::ostream& out)
{
    out << "Available camera devices are: " << std::endl;
    for (const CameraDevice& device : enumerator.devices()) {
        out << device.number << ") " << device.name << '\n';
        // Packed as width above height so one sort orders by width, then height.
        std::vector<std::uint64_t> packed;
        for (const FrameSize& size : device.frameSizes)
            packed.push_back((static_cast<std::uint64_t>(static_cast<std::uint32_t>(size.width)) << 32) |
                             static_cast<std::uint32_t>(size.height));
        std::sort(packed.begin(), packed.end());
        packed.erase(std::unique(packed.begin(), packed.end()), packed.end());
        for (std::uint64_t size : packed)
            out << '\t' << (size >> 32) << " x " << (size & 0xffffffffu) << '\n';
        out.flush();
    }
}

void listCameraDevices() { printCameraDevices(V4l2CameraEnumerator(), std::cout); }

} // namespace app

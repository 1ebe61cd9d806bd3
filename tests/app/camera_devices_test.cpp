#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/camera_devices.h"

using namespace app;

namespace {

class MadeUpCameras : public CameraEnumerator {
public:
    explicit MadeUpCameras(std::vector<CameraDevice> devices) : devices_(std::move(devices)) {}
    std::vector<CameraDevice> devices() const override { return devices_; }

private:
    std::vector<CameraDevice> devices_;
};

std::string listing(std::vector<CameraDevice> devices)
{
    std::ostringstream out;
    printCameraDevices(MadeUpCameras(std::move(devices)), out);
    return out.str();
}

} // namespace

TEST(CameraListing, NoCameraGivesOnlyTheHeader)
{
    EXPECT_EQ(listing({}), "Available camera devices are: \n");
}

TEST(CameraListing, SizesSortedByWidthThenHeightWithoutRepeats)
{
    const std::string text = listing({
        {0, "Front camera", {{1920, 1080}, {640, 480}, {1280, 720}, {640, 480}, {640, 360}}},
        {2, "USB Cam: HD", {}},
        {4, "Wide", {{2, 5000}, {10, 1}}},
    });
    EXPECT_EQ(text, "Available camera devices are: \n"
                    "0) Front camera\n"
                    "\t640 x 360\n"
                    "\t640 x 480\n"
                    "\t1280 x 720\n"
                    "\t1920 x 1080\n"
                    "2) USB Cam: HD\n"
                    "4) Wide\n"
                    "\t2 x 5000\n"
                    "\t10 x 1\n");
}

TEST(CameraListing, NodesThatAreNotCapturingDevicesAreSkipped)
{
    const auto directory = std::filesystem::temp_directory_path() / "scanbench_fake_dev";
    std::filesystem::remove_all(directory);
    std::filesystem::create_directories(directory / "video1");
    std::ofstream(directory / "video0") << "not a device";
    std::ofstream(directory / "videoX") << "";
    EXPECT_TRUE(V4l2CameraEnumerator(directory.string()).devices().empty());
    EXPECT_TRUE(V4l2CameraEnumerator((directory / "missing").string()).devices().empty());
    std::filesystem::remove_all(directory);
}

// A program that uses only the library: it loads and reads images of every
// kind the loader reports on, and must print nothing while doing so.
#include <filesystem>
#include <fstream>
#include <string>

#include <opencv2/imgcodecs.hpp>

#include "orb/image_file.h"
#include "orb/reader.h"

int main(int argc, char** argv)
{
    if (argc != 3) return 2;
    const std::string sample = argv[1];
    const std::filesystem::path work = argv[2];
    std::filesystem::create_directories(work);
    const std::string bomb = (work / "bomb.pgm").string();
    std::ofstream(bomb, std::ios::binary) << "P5\n40000 40000\n255\n\x01";
    const std::string text = (work / "text.png").string();
    std::ofstream(text, std::ios::binary) << "not an image";

    const orb::ImageLoad loaded = orb::loadImage(sample);
    if (loaded.status != orb::ImageLoad::Status::Loaded) return 3;
    if (orb::loadImage(sample, 100).status != orb::ImageLoad::Status::TooLarge) return 4;
    if (orb::loadImage(bomb).status != orb::ImageLoad::Status::TooLarge) return 5;
    if (orb::loadImage(text).status != orb::ImageLoad::Status::Unreadable) return 6;
    if (!orb::readCode(loaded.image)) return 7;
    if (orb::searchCodes(loaded.image).codes.empty()) return 8;
    cv::Mat blank(200, 200, CV_8UC3, cv::Scalar::all(255));
    if (orb::readCode(blank)) return 9;
    return 0;
}

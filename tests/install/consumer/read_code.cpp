// Writes a code, reads it back with its trace and reads an image file,
// with nothing but the installed library.
#include <iostream>
#include <string>

#include <opencv2/imgcodecs.hpp>
#include <orb/image_file.h>
#include <orb/reader.h>
#include <orb/version.h>
#include <orb/writer.h>

int main(int argc, char** argv)
{
    if (argc != 2) return 2;
    if (std::string(orb::version()) != ORB_VERSION_STRING) return 3;

    orb::WriterOptions writing;
    writing.eccType = orb::EccType::High;
    const orb::WrittenCode written = orb::writeCode("written here", writing);
    if (!written) return 4;
    orb::ReaderOptions reading;
    reading.trace = true;
    reading.layout = orb::Layout::HorizontalSnakeSmall;
    const orb::ReadResult back = orb::readCode(written.image, reading);
    if (back.text() != "written here" || back.eccType != orb::EccType::High || back.trace.empty()) return 5;
    if (back.trace.back().stage != "grid reading" || back.trace.back().result != orb::ReadError::Success) return 6;
    if (orb::writeCode("not digits", {.dataType = orb::DataType::Digits}).error !=
        orb::ReadError::CodeCannotBeCreated)
        return 7;

    const orb::ImageLoad load = orb::loadImage(argv[1]);
    if (load.status != orb::ImageLoad::Status::Loaded) return 8;
    const orb::ReadResult result = orb::readCode(load.image);
    if (!result) {
        std::cerr << result.errorText() << '\n';
        return 1;
    }
    std::cout << result.text() << '\n';
    return 0;
}

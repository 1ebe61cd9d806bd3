// Reads the code in one image file with nothing but the installed library.
#include <iostream>

#include <opencv2/imgcodecs.hpp>
#include <orb/reader.h>

int main(int argc, char** argv)
{
    if (argc != 2) return 2;
    const orb::ReadResult result = orb::readCode(cv::imread(argv[1]));
    if (!result) {
        std::cerr << result.errorText() << '\n';
        return 1;
    }
    std::cout << result.text() << '\n';
    return 0;
}

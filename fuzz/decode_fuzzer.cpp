// The decoder's front door on images made from the fuzzer's bytes. A decode
// failure (OCException) and an image OpenCV refuses (cv::Exception) are
// answers; anything else escaping, or a sanitizer report, is a finding.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "orb/decoder.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::quietLibrary();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const fuzz::ImageInput input = fuzz::imageFromBytes(data, size);
    orb::DecoderConfiguration config;
    config.codeType = input.codeType;
    config.layout = input.layout;
    try {
        (void)orb::decode(config, input.image, input.enhance);
    } catch (const orb::OCException&) {
    } catch (const cv::Exception&) {
    }
    return 0;
}

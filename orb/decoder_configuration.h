#pragma once
#include <cstdint>

namespace orb {

enum CodeType : std::int32_t { BlackAndWhite = 0, Color = 1 };

// Settings of one decode. Polymorphic so that a caller can tune the inner
// circle search through the one virtual.
struct DecoderConfiguration {
    virtual ~DecoderConfiguration() = default;
    // Minimum distance between blob centres of the inner circle search.
    virtual std::int32_t minDistanceBetweenBlobs() const { return 35; }

    std::int32_t codeType = BlackAndWhite;
    std::int32_t layout = 4; // ModuleLayout HorizontalSnakeSmall
};

} // namespace orb

#pragma once
// From text to a drawn code in one step: the writer's module vector, with
// the ring count chosen to fit, drawn by the code drawer.
#include <cstdint>
#include <string>
#include <vector>

#include "orb/drawing/code_drawer.h"
#include "orb/payload/module_layout.h"
#include "orb/payload/payload_types.h"

namespace orb {

struct TextCodeOptions {
    int modulesPerRing = 32;
    int ringCount = 0; // 0: the fewest rings that hold the text
    std::uint8_t dataType = Automatic;
    std::uint8_t eccType = Medium;
    std::int32_t layout = HorizontalSnakeSmall;
    // Any mask reads back (the reader tries all five); a fixed one keeps
    // codes of the same text identical apart from the random filler.
    int mask = 0;
};

struct TextCode {
    std::vector<std::uint8_t> modules; // physical order, as the reader reads them
    int modulesPerRing = 0;
    int ringCount = 0;
    std::uint8_t dataType = Automatic; // as written: Automatic resolved
    std::uint8_t eccType = Medium;
};

// The modules of a code carrying `text`. Throws OCException: the writer's
// codes (CodeCannotBeCreated for a text the data type cannot carry,
// DataSizeExceedsMaximum, InsufficientCapacity, ...), InvalidConfiguration
// for a module count, ring count (2 to 2500) or mask out of range, and
// DataSizeExceedsMaximum when no ring count holds the text.
TextCode writeTextCode(const std::string& text, const TextCodeOptions& options, std::int32_t codeType);

// writeTextCode, then drawCode with `drawing` (whose codeType decides
// black-and-white or colour).
DrawnCode drawText(const std::string& text, const TextCodeOptions& options, const DrawOptions& drawing = {});

} // namespace orb

#include "orb/payload/module_layout.h"

#include <algorithm>
#include <sstream>

#include "orb/logger.h"
#include "orb/payload/module_mask.h"

namespace orb {

namespace {

void verticalPositions(int rows, int columns, bool snake, std::vector<int>& positions)
{
    for (int c = 0; c < columns; ++c)
        for (int j = 0; j < rows; ++j) {
            const int row = (snake && c % 2 == 1) ? rows - 1 - j : j;
            positions.push_back(row * columns + c);
        }
}

// Bands of `width` columns, walked down and up in turn; inside a band the
// rows are crossed left to right and right to left in turn.
void snakePositions(int rows, int columns, int width, std::vector<int>& positions)
{
    for (int first = 0, band = 0; first < columns; first += width, ++band) {
        const int last = std::min(first + width, columns) - 1;
        for (int j = 0; j < rows; ++j) {
            const int row = band % 2 == 0 ? j : rows - 1 - j;
            if (j % 2 == 0)
                for (int c = first; c <= last; ++c) positions.push_back(row * columns + c);
            else
                for (int c = last; c >= first; --c) positions.push_back(row * columns + c);
        }
    }
}

// Stride walk over every second row; the caller checks that it covered the
// grid, since some grid shapes make it leave the grid or revisit cells.
void scrambledPositions(int rows, int columns, std::vector<int>& positions)
{
    const int total = rows * columns;
    const int step = columns / 3 + 3;
    int column = 0, row = 0, lowerPass = -1, upperPass = 0;
    bool oddPass = true;
    for (int p = 0; p < total; ++p) {
        const int next = column < columns ? row : row + 2;
        if (next < rows) {
            if (column >= columns) column -= columns;
            row = next;
        } else {
            if (oddPass) {
                column = lowerPass + 1;
                row = 1;
                ++lowerPass;
            } else {
                column = upperPass + 1;
                row = 0;
                ++upperPass;
            }
            oddPass = !oddPass;
        }
        positions.push_back(row * columns + column);
        column += step;
    }
}

bool coversGrid(const std::vector<int>& positions, int total)
{
    std::vector<bool> seen(total, false);
    for (const int position : positions) {
        if (position < 0 || position >= total || seen[position]) return false;
        seen[position] = true;
    }
    return static_cast<int>(positions.size()) == total;
}

} // namespace

const char* layoutName(std::int32_t layout)
{
    switch (layout) {
    case Horizontal: return "Horizontal";
    case Vertical: return "Vertical";
    case VerticalSnake: return "VerticalSnake";
    case HorizontalSnakeLarge: return "HorizontalSnakeLarge";
    case HorizontalSnakeSmall: return "HorizontalSnakeSmall";
    case Scrambled: return "Scrambled";
    default: return "";
    }
}

const char* layoutStepText(std::int32_t layout)
{
    switch (layout) {
    case Vertical: return "apply vertical layout";
    case VerticalSnake: return "apply vertical snake layout";
    case HorizontalSnakeLarge: return "apply horizontal snake layout";
    case HorizontalSnakeSmall: return "apply small horizontal snake layout";
    case Scrambled: return "apply scrambled layout";
    default: return "apply horizontal layout";
    }
}

bool layoutPositions(std::int32_t layout, int ringCount, int dataModulesPerRing, std::vector<int>& positions)
{
    positions.clear();
    if (ringCount < 0 || dataModulesPerRing < 0) return false;
    const int total = ringCount * dataModulesPerRing;
    positions.reserve(total);
    switch (layout) {
    case Vertical: verticalPositions(ringCount, dataModulesPerRing, false, positions); break;
    case VerticalSnake: verticalPositions(ringCount, dataModulesPerRing, true, positions); break;
    case HorizontalSnakeLarge: snakePositions(ringCount, dataModulesPerRing, 4, positions); break;
    case HorizontalSnakeSmall: snakePositions(ringCount, dataModulesPerRing, 2, positions); break;
    case Scrambled:
        scrambledPositions(ringCount, dataModulesPerRing, positions);
        if (!coversGrid(positions, total)) {
            positions.clear();
            return false;
        }
        break;
    default:
        for (int p = 0; p < total; ++p) positions.push_back(p);
        break;
    }
    return true;
}

bool applyMaskAndLayout(std::vector<std::uint8_t>& modules, int maskIndex, std::int32_t layout, int ringCount,
                        int dataModulesPerRing)
{
    if (maskIndex < 0 || maskIndex >= kMaskCount) return false;
    if (ringCount < 0 || dataModulesPerRing < 0 ||
        modules.size() != static_cast<std::size_t>(ringCount) * static_cast<std::size_t>(dataModulesPerRing))
        return false;

    std::vector<int> positions;
    const bool covers = layoutPositions(layout, ringCount, dataModulesPerRing, positions);

    Logger& log = logger();
    log.line(LogLevel::Trace, "dec: try mask ", maskIndex);
    applyMask(modules, maskIndex);
    if (log.accepts(LogLevel::Trace)) {
        std::ostringstream text;
        text << "dec: unmasked modules: {";
        for (const std::uint8_t module : modules) text << static_cast<int>(module) << ",";
        text << "}";
        log.line(LogLevel::Trace, text.str());
    }

    log.line(LogLevel::Trace, "dec: ", layoutStepText(layout));
    if (!covers) return false;
    if (layout < Vertical || layout > Scrambled) return true; // Horizontal: already in stream order
    std::vector<std::uint8_t> logical(modules.size());
    for (std::size_t p = 0; p < positions.size(); ++p) logical[p] = modules[positions[p]];
    modules = std::move(logical);
    return true;
}

} // namespace orb

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "orb/payload/code_writer.h"
#include "orb/payload/compression.h"
#include "orb/payload/module_layout.h"
#include "orb/payload/payload_decoder.h"
#include "orb/payload/payload_types.h"
#include "orb/result_code.h"

using namespace orb;

namespace {

struct ReadBack {
    ResultCode result = EccUncorrectable;
    std::string text;
    std::uint8_t dataType = 0;
    std::uint8_t eccType = 0;
    int mask = -1;
};

// What grid reading does with a physical module vector: the five masks in
// turn, the first that decodes wins.
ReadBack readBack(const std::vector<std::uint8_t>& physical, std::int32_t layout, int rings, int columns, int bits)
{
    ReadBack read;
    for (int mask = 0; mask < 5; ++mask) {
        std::vector<std::uint8_t> modules = physical;
        if (!applyMaskAndLayout(modules, mask, layout, rings, columns)) {
            read.result = WrongGrid;
            continue;
        }
        read.result = decodePayload(modules, bits, read.text, read.dataType, read.eccType);
        if (read.result == Success) {
            read.mask = mask;
            break;
        }
    }
    return read;
}

std::string alphabetOf(std::uint8_t type)
{
    switch (type) {
    case Digits: return "0123456789";
    case Letters: return " .0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    case Numbers: return ",-./0123456789:_";
    case Ascii: {
        std::string all;
        for (int c = 1; c < 128; ++c) all += static_cast<char>(c);
        return all;
    }
    default: {
        std::string all;
        for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
        return all;
    }
    }
}

// The longest random text of the type's alphabet that fits `room` packed bytes.
std::string fittingText(std::mt19937& rng, std::uint8_t type, int room)
{
    const std::string alphabet = alphabetOf(type);
    std::string text;
    while (true) {
        const std::string longer = text + alphabet[rng() % alphabet.size()];
        if (packedLength(longer, type) > room) return text;
        text = longer;
    }
}

struct Grid {
    int rings;
    int columns;
    int bits;
};

std::string gridName(const Grid& g) { return std::to_string(g.rings) + "x" + std::to_string(g.columns) + "x" + std::to_string(g.bits); }

} // namespace

TEST(CodeWriter, RoundTripsEveryTypeLayoutEccAndMask)
{
    std::srand(1);
    std::mt19937 rng(41);
    const std::vector<Grid> grids{{2, 27, 1}, {3, 11, 3}, {4, 13, 1}, {6, 59, 3}, {12, 59, 1}, {30, 43, 1}, {20, 59, 3}};
    const std::vector<std::uint8_t> types{Digits, Letters, Numbers, Ascii, Latin1, Binary, BigLetters, Automatic};
    int counter = 0;
    for (const Grid& grid : grids)
        for (std::uint8_t type : types)
            for (std::uint8_t ecc = Low; ecc <= High; ++ecc)
                for (std::int32_t layout = Horizontal; layout <= Scrambled; ++layout) {
                    const int mask = counter++ % 5;
                    const int room = codeCapacity(grid.rings, grid.columns + 5, grid.bits, ecc).maxPayload;
                    ASSERT_GE(room, 0) << gridName(grid);
                    // Alternately fill the room and use a short text.
                    std::string text = fittingText(rng, type == Automatic ? std::uint8_t{Letters} : type, room);
                    if (counter % 2 == 0) text.resize(text.size() / 3);
                    if (packedLength(text, type) > room) continue; // even an empty Digits text takes a byte
                    const auto physical =
                        writeModules(text, type, ecc, layout, mask, grid.rings, grid.columns, grid.bits);
                    ASSERT_EQ(physical.size(), static_cast<std::size_t>(grid.rings * grid.columns));
                    const ReadBack read = readBack(physical, layout, grid.rings, grid.columns, grid.bits);
                    ASSERT_EQ(read.result, Success) << gridName(grid) << " " << dataTypeName(type) << " "
                                                    << eccTypeName(ecc) << " " << layoutName(layout);
                    EXPECT_EQ(read.text, text);
                    EXPECT_EQ(read.eccType, ecc);
                    EXPECT_EQ(read.mask, mask);
                    std::uint8_t expectedType = type;
                    if (type == Automatic) expectedType = detectDataType(text);
                    EXPECT_EQ(read.dataType, expectedType);
                }
}

TEST(CodeWriter, EveryMaskReadsBackInBothCodeTypes)
{
    for (int bits : {1, 3})
        for (int mask = 0; mask < 5; ++mask)
            for (std::int32_t layout = Horizontal; layout <= Scrambled; ++layout) {
                const auto physical = writeModules("Mask 42", Letters, Medium, layout, mask, 5, 27, bits);
                const ReadBack read = readBack(physical, layout, 5, 27, bits);
                ASSERT_EQ(read.result, Success);
                EXPECT_EQ(read.text, "Mask 42");
                EXPECT_EQ(read.mask, mask);
            }
}

TEST(CodeWriter, TextThatFillsTheRoomIsAcceptedOneByteMoreIsRefused)
{
    for (int bits : {1, 3})
        for (std::uint8_t ecc = Low; ecc <= High; ++ecc) {
            const int room = codeCapacity(7, 48, bits, ecc).maxPayload;
            const std::string full(room, '\xB5');
            const auto physical = writeModules(full, Latin1, ecc, VerticalSnake, 2, 7, 43, bits);
            EXPECT_EQ(readBack(physical, VerticalSnake, 7, 43, bits).text, full);
            CodeWriter writer(7, 43, bits);
            try {
                writer.buildCodeword(Latin1, ecc, full + "x");
                FAIL();
            } catch (const OCException& e) {
                EXPECT_EQ(e.code, InsufficientCapacity);
            }
        }
    // The smallest grids: one byte of room, then none.
    const int room = codeCapacity(1, 45, 1, Low).maxPayload; // c = 5, E = 1, k = 4
    EXPECT_EQ(room, 0);
    EXPECT_EQ(readBack(writeModules("", Latin1, Low, Horizontal, 0, 1, 40, 1), Horizontal, 1, 40, 1).text, "");
    EXPECT_THROW(writeModules("1", Digits, Low, Horizontal, 0, 1, 40, 1), OCException);
    EXPECT_THROW(writeModules("", Digits, Low, Horizontal, 0, 1, 39, 1), OCException);
}

TEST(CodeWriter, TooLongPayloadAndBadArgumentsAreRefused)
{
    CodeWriter writer(40, 59, 3);
    try {
        writer.buildCodeword(Binary, Low, std::string(257, 'a'));
        FAIL();
    } catch (const OCException& e) {
        EXPECT_EQ(e.code, DataSizeExceedsMaximum);
    }
    EXPECT_TRUE(writer.codeword().empty()); // a failed build leaves the writer as it was
    EXPECT_THROW(writer.buildCodeword(8, Low, "a"), OCException);
    EXPECT_THROW(writer.buildCodeword(Letters, 4, "a"), OCException);
    EXPECT_THROW(writer.maskModules(5), OCException);
    EXPECT_THROW(CodeWriter(0, 10, 1), OCException);
    EXPECT_THROW(CodeWriter(3, 10, 2), OCException);
}

TEST(CodeWriter, RequestedTypeMustCarryTheText)
{
    CodeWriter writer(10, 59, 1);
    try {
        writer.buildCodeword(Numbers, Low, "12:30 Uhr");
        FAIL();
    } catch (const OCException& e) {
        EXPECT_EQ(e.code, CodeCannotBeCreated);
        EXPECT_STREQ(e.what(), "Orbel code cannot be created (character ' ' (code 32) at position 5 is not in the "
                               "Numbers alphabet)");
    }
}

TEST(CodeWriter, AutomaticWritesTheDetectedTypeIntoTheFrame)
{
    CodeWriter writer(10, 59, 1);
    writer.buildCodeword(Automatic, Quartile, "0042");
    EXPECT_EQ(writer.dataType(), Digits);
    EXPECT_EQ(writer.codeword()[0], 0x08 | Digits);
    writer.fillModules(Horizontal);
    std::string text;
    std::uint8_t type = 0, ecc = 0;
    ASSERT_EQ(decodePayload(writer.modules(), 1, text, type, ecc), Success);
    EXPECT_EQ(text, "0042");
}

TEST(CodeWriter, ScrambledGridsItCannotCoverAreRefused)
{
    CodeWriter oneRing(1, 59, 1);
    oneRing.buildCodeword(Digits, Low, "1");
    try {
        oneRing.fillModules(Scrambled);
        FAIL();
    } catch (const OCException& e) {
        EXPECT_EQ(e.code, InvalidConfiguration);
    }
    CodeWriter narrow(6, 3, 3);
    narrow.buildCodeword(Digits, Low, "1");
    EXPECT_THROW(narrow.fillModules(Scrambled), OCException);
    EXPECT_NO_THROW(narrow.fillModules(HorizontalSnakeLarge));
}

// Clean codes read back with their own text, mask and ECC type: an earlier
// mask or a stronger ECC assumption may not slip through. Small grids have
// little parity, where such slips are likeliest.
TEST(CodeWriter, CleanCodesReadBackExactly)
{
    std::srand(7);
    std::mt19937 rng(8);
    const std::string alphabet = alphabetOf(Letters);
    int mismatches = 0;
    for (int trial = 0; trial < 100000; ++trial) {
        const int rings = 2 + static_cast<int>(rng() % 5);
        const int columns = 11 + static_cast<int>(rng() % 10);
        const std::uint8_t ecc = static_cast<std::uint8_t>(rng() % 4);
        const int room = codeCapacity(rings, columns + 5, 1, ecc).maxPayload;
        if (room < 0) continue;
        std::string text;
        for (int i = 0, n = static_cast<int>(rng() % (room + 1)); i < n; ++i) text += alphabet[rng() % alphabet.size()];
        const std::int32_t layout = static_cast<std::int32_t>(rng() % 5);
        const int mask = static_cast<int>(rng() % 5);
        const auto physical = writeModules(text, Latin1, ecc, layout, mask, rings, columns, 1);
        const ReadBack read = readBack(physical, layout, rings, columns, 1);
        if (read.result != Success || read.text != text || read.mask != mask || read.eccType != ecc) {
            ++mismatches;
            ADD_FAILURE() << "trial " << trial << ": " << rings << "x" << columns << " " << eccTypeName(ecc) << " "
                          << layoutName(layout) << " mask " << mask << " \"" << text << "\" read as \"" << read.text
                          << "\" (" << resultText(read.result) << ", mask " << read.mask << ", "
                          << eccTypeName(read.eccType) << ")";
        }
    }
    EXPECT_EQ(mismatches, 0);
}

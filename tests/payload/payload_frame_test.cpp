#include <gtest/gtest.h>

#include <random>

#include "orb/payload/code_writer.h"
#include "orb/payload/payload_decoder.h"
#include "orb/payload/module_layout.h"
#include "orb/payload/module_mask.h"
#include "orb/payload/payload_frame.h"
#include "orb/payload/payload_types.h"
#include "orb/payload/reed_solomon.h"

using namespace orb;

using Bytes = std::vector<std::uint8_t>;

namespace {

// A data block of `size` bytes: header, length, payload, checksum, tail.
Bytes frameBlock(std::uint8_t header, const Bytes& payload, std::size_t size, std::uint8_t tail)
{
    Bytes block{header, static_cast<std::uint8_t>(payload.size())};
    for (auto b : payload) block.push_back(b);
    std::uint8_t checksum = header ^ static_cast<std::uint8_t>(payload.size());
    for (auto b : payload) checksum ^= b;
    block.push_back(checksum);
    block.resize(size - 1, 0xEE);
    block.push_back(tail);
    return block;
}

} // namespace

TEST(PayloadSizes, CapacityAndParityOfKnownGrids)
{
    const int expectedEcc[] = {7, 15, 25, 30};
    const int expectedRoom[] = {89, 81, 71, 66};
    for (std::uint8_t ecc = Low; ecc <= High; ++ecc) {
        const CodeCapacity room = codeCapacity(20, 45, 1, ecc); // 20 rings x 40 data modules
        EXPECT_EQ(room.capacity, 100);
        EXPECT_EQ(room.eccLength, expectedEcc[ecc]);
        EXPECT_EQ(room.maxPayload, expectedRoom[ecc]);
    }
    const CodeCapacity ten = codeCapacity(2, 45, 1, Low);
    EXPECT_EQ(ten.capacity, 10);
    EXPECT_EQ(ten.eccLength, 1);
    EXPECT_EQ(ten.maxPayload, 5);
    EXPECT_EQ(codeCapacity(6, 65, 3, Low).capacity, 135);
    EXPECT_EQ(codeCapacity(40, 64, 3, High).capacity, 255);
    EXPECT_EQ(codeCapacity(1, 16, 1, Low).maxPayload, -1); // c = 1: no frame
    EXPECT_EQ(codeCapacity(1, 45, 1, Low).maxPayload, 0);  // c = 5: an empty frame
}

TEST(PayloadSizes, FewestRingsHoldsTheTextAndOneLessDoesNot)
{
    const std::string text = "Hello World, this is a test of the ring count";
    for (int modules : {16, 32, 48, 64})
        for (int bits : {1, 3}) {
            const int rings = fewestRings(text, Automatic, Quartile, modules, bits);
            ASSERT_GT(rings, 0);
            const int length = packedLength(text, Automatic);
            EXPECT_GE(codeCapacity(rings, modules, bits, Quartile).maxPayload, length);
            if (rings > 1) {
                EXPECT_LT(codeCapacity(rings - 1, modules, bits, Quartile).maxPayload, length);
            }
            EXPECT_EQ(fewestRings(text, Automatic, Quartile, modules, bits, rings + 3), rings + 3);
        }
    EXPECT_EQ(fewestRings(std::string(300, 'x'), Latin1, Low, 64, 3), 0);
    EXPECT_THROW(fewestRings("abc", Digits, Low, 64, 1), OCException);
}

TEST(PayloadFrame, ChecksAreMadeInOrder)
{
    Bytes payload;
    std::uint8_t type = 99;
    const std::uint8_t header = 0x08 | Ascii;
    const std::uint8_t tail = Medium << 6 | Ascii << 3 | 1;

    EXPECT_EQ(checkFrame(frameBlock(header, {}, 6, tail), Medium, payload, type), Success);
    EXPECT_TRUE(payload.empty());
    EXPECT_EQ(type, Ascii);
    EXPECT_EQ(frameBlock(header, {}, 6, tail)[2], header); // empty payload: checksum = header

    EXPECT_EQ(checkFrame(Bytes{header, 0}, Medium, payload, type), InsufficientCapacity);
    // Length K - 2 or more: no room for the checksum.
    EXPECT_EQ(checkFrame(Bytes{header, 4, 1, 2, 3, 4}, Medium, payload, type), InsufficientCapacity);
    EXPECT_EQ(checkFrame(Bytes{header, 200, 1, 2, 3, 4}, Medium, payload, type), InsufficientCapacity);
    // Length K - 3: the checksum is the last byte and matches, but no tail.
    Bytes noTail{header, 3, 1, 2, 3, static_cast<std::uint8_t>(header ^ 3 ^ 1 ^ 2 ^ 3)};
    EXPECT_EQ(checkFrame(noTail, Medium, payload, type), InsufficientCapacity);

    Bytes badSum = frameBlock(header, {65, 66}, 10, tail);
    badSum[4] ^= 1;
    EXPECT_EQ(checkFrame(badSum, Medium, payload, type), WrongChecksum);

    EXPECT_EQ(checkFrame(frameBlock(header, {65}, 8, tail), High, payload, type), TailInconsistent);
    EXPECT_EQ(checkFrame(frameBlock(header, {65}, 8, tail ^ 0x08), Medium, payload, type), TailInconsistent);
    EXPECT_EQ(checkFrame(frameBlock(header, {65}, 8, tail ^ 0x02), Medium, payload, type), TailInconsistent);
}

TEST(PayloadFrame, RawByteTypesAreAcceptedOnlyWithTailTypeZeroAndKeepTheirName)
{
    Bytes payload;
    std::uint8_t type = 99;
    for (std::uint8_t raw : {Binary, BigLetters, Automatic}) {
        const std::uint8_t header = 0x08 | raw;
        EXPECT_EQ(checkFrame(frameBlock(header, {200, 7}, 9, Low << 6 | 1), Low, payload, type), Success);
        // Reported as the header names it, unpacked as raw bytes.
        EXPECT_EQ(type, raw);
        EXPECT_EQ(payload, (Bytes{200, 7}));
        EXPECT_EQ(checkFrame(frameBlock(header, {200, 7}, 9, Low << 6 | raw << 3 | 1), Low, payload, type),
                  raw == Automatic ? Success : TailInconsistent);
    }
}

TEST(PayloadDecoder, FindsTheStrengthTheCodeWasWrittenWith)
{
    // A Low frame read first as High, Quartile, Medium must not be taken for one.
    for (std::uint8_t ecc = Low; ecc <= High; ++ecc) {
        CodeWriter writer(6, 43, 1);
        writer.buildCodeword(Letters, ecc, "Orbel ring code");
        writer.fillModules(Horizontal);
        std::string text;
        std::uint8_t dataType = 0, eccType = 9;
        ASSERT_EQ(decodePayload(writer.modules(), 1, text, dataType, eccType), Success);
        EXPECT_EQ(text, "Orbel ring code");
        EXPECT_EQ(dataType, Letters);
        EXPECT_EQ(eccType, ecc);
    }
}

TEST(PayloadDecoder, OnlyTheFirst255BytesAreTheCodeword)
{
    CodeWriter writer(40, 59, 3); // 885 bytes of modules
    writer.buildCodeword(Latin1, High, "big grid");
    EXPECT_EQ(writer.codeword().size(), 255u);
    writer.fillModules(Vertical);
    // Unmasked modules in logical order; then spoil everything after the codeword.
    std::vector<std::uint8_t> modules = writer.modules();
    applyMask(modules, 0);
    ASSERT_TRUE(applyMaskAndLayout(modules, 0, Vertical, 40, 59));
    for (std::size_t t = 255 * 8 / 3 + 1; t < modules.size(); ++t) modules[t] ^= 5;
    std::string text;
    std::uint8_t dataType = 0, eccType = 0;
    ASSERT_EQ(decodePayload(modules, 3, text, dataType, eccType), Success);
    EXPECT_EQ(text, "big grid");
}

TEST(PayloadDecoder, SurvivesArbitraryModuleVectors)
{
    std::mt19937 rng(31);
    for (int trial = 0; trial < 3000; ++trial) {
        std::vector<std::uint8_t> modules(rng() % (trial % 10 == 0 ? 4000 : 200));
        for (auto& m : modules) m = static_cast<std::uint8_t>(rng());
        const int bits = trial % 3 == 0 ? 3 : (trial % 3 == 1 ? 1 : static_cast<int>(rng() % 12) - 2);
        std::string text;
        std::uint8_t dataType = 0, eccType = 0;
        ResultCode result = Success;
        ASSERT_NO_THROW(result = decodePayload(modules, bits, text, dataType, eccType));
        EXPECT_TRUE(result == Success || result == EccUncorrectable || result == WrongChecksum ||
                    result == TailInconsistent || result == InsufficientCapacity || result == InvalidConfiguration)
            << result;
    }
}

namespace orb {
namespace {

TEST(PayloadDecoder, CountsTheBytesItCorrected)
{
    CodeWriter writer(6, 43, 1);
    writer.buildCodeword(Letters, High, "Orbel ring code");
    writer.fillModules(Horizontal);
    // One bit flipped in each of `wrong` distinct bytes (modules pack from bit 0, eight to a byte).
    for (const int wrong : {0, 1, 5}) {
        std::vector<std::uint8_t> modules = writer.modules();
        for (int byte = 0; byte < wrong; ++byte) modules[8 * (3 * byte + 1) + byte % 8] ^= 1;
        std::string text;
        std::uint8_t dataType = 0, eccType = 0;
        int corrected = -1;
        ASSERT_EQ(decodePayload(modules, 1, text, dataType, eccType, &corrected), Success) << wrong;
        EXPECT_EQ(text, "Orbel ring code");
        EXPECT_EQ(corrected, wrong);
    }
}

} // namespace
} // namespace orb

namespace orb {
namespace {

// A Medium code of 6 rings x 38 modules: 28 codeword bytes, 5 of parity,
// in stream order (Horizontal, unmasked), every module sure.
struct UnsureCode {
    CodeWriter writer{6, 38, 1};
    std::vector<std::uint8_t> modules;
    std::vector<float> certainty;

    explicit UnsureCode(const std::string& text)
    {
        writer.buildCodeword(Letters, Medium, text);
        writer.fillModules(Horizontal);
        modules = writer.modules();
        certainty.assign(modules.size(), 0.5f);
    }
    // Flips module `index`, marking it as unsure as `sure`.
    void spoil(int index, float sure)
    {
        modules[index] ^= 1;
        certainty[index] = sure;
    }
};

TEST(PayloadErasures, UnsureModulesInMoreBytesThanErrorsCouldBeAreCorrected)
{
    UnsureCode code("Orbel ring");
    // Five bytes wrong, where five parity bytes correct two errors.
    for (const int byte : {1, 6, 13, 20, 25}) code.spoil(8 * byte + 3, 0.05f);
    std::string text;
    std::uint8_t dataType = 0, eccType = 0;
    ASSERT_NE(decodePayload(code.modules, 1, text, dataType, eccType), Success);

    const Found<PayloadRead> read = decodePayloadWithErasures(code.modules, code.certainty, 1);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->text, "Orbel ring");
    EXPECT_EQ(read->eccType, Medium);
    EXPECT_EQ(read->correctedErrors, 5);
    EXPECT_EQ(read->erasures, 5);
}

TEST(PayloadErasures, ASureModuleThatWasWrongInAnErasedByteIsNotGuessed)
{
    // Three unsure bytes; a sure module of the second is wrong too, which
    // an erasure would put right but only by changing a sure bit.
    UnsureCode code("Orbel ring");
    for (const int byte : {4, 9, 17}) code.spoil(8 * byte, 0.05f);
    code.modules[8 * 9 + 5] ^= 1;
    code.modules[8 * 21 + 2] ^= 1; // and a fourth byte, sure and wrong
    const Found<PayloadRead> read = decodePayloadWithErasures(code.modules, code.certainty, 1);
    EXPECT_FALSE(read);
}

// Whatever is spoiled, sure or not, a read is the written text or nothing.
TEST(PayloadErasures, SpoiledCodesNeverReadAsAnotherText)
{
    std::mt19937 rng(8);
    int read = 0, refused = 0;
    for (int trial = 0; trial < 1500; ++trial) {
        const std::string written = "code " + std::to_string(trial);
        UnsureCode code(written);
        const int modules = static_cast<int>(code.modules.size());
        // Unsure modules, some of them right, and sure ones that are wrong.
        const int unsure = std::uniform_int_distribution<int>(0, 40)(rng);
        for (int i = 0; i < unsure; ++i) {
            const int index = std::uniform_int_distribution<int>(0, modules - 1)(rng);
            code.certainty[index] = std::uniform_real_distribution<float>(0.0f, 0.3f)(rng);
            if (rng() % 3 != 0) code.modules[index] ^= 1;
        }
        const int sureWrong = std::uniform_int_distribution<int>(0, 4)(rng);
        for (int i = 0; i < sureWrong; ++i) code.modules[std::uniform_int_distribution<int>(0, modules - 1)(rng)] ^= 1;
        const Found<PayloadRead> result = decodePayloadWithErasures(code.modules, code.certainty, 1);
        if (!result) {
            ++refused;
            continue;
        }
        ++read;
        ASSERT_EQ(result->text, written) << "trial " << trial;
    }
    EXPECT_GT(read, 100);
    EXPECT_GT(refused, 100);
}

// A grid that holds no code, with many of its modules unsure: each erasure
// spends parity that would otherwise check the correction, so the more
// there are the less the gate may let through. Grids of the sizes small
// codes have, where a chance codeword is likeliest.
TEST(PayloadErasures, RandomGridsWithManyUnsureModulesReadNoText)
{
    std::mt19937 rng(31);
    int framesChecked = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        const int modules = 8 * std::uniform_int_distribution<int>(6, 40)(rng) + static_cast<int>(rng() % 8);
        std::vector<std::uint8_t> values(modules);
        std::vector<float> certainty(modules, 0.5f);
        const double unsureShare = std::uniform_real_distribution<double>(0.1, 0.6)(rng);
        for (int i = 0; i < modules; ++i) {
            values[i] = static_cast<std::uint8_t>(rng() % 2);
            if (std::uniform_real_distribution<double>(0, 1)(rng) < unsureShare)
                certainty[i] = std::uniform_real_distribution<float>(0.0f, 0.3f)(rng);
        }
        const Found<PayloadRead> read = decodePayloadWithErasures(values, certainty, 1);
        EXPECT_FALSE(read) << "trial " << trial << " read \"" << read->text << "\"";
        framesChecked += read.code != EccUncorrectable;
    }
    // A few chance codewords get past the correction's evidence and are
    // turned down by the frame's checks: both gates are in play here.
    EXPECT_GT(framesChecked, 0);
}

} // namespace
} // namespace orb

namespace orb {
namespace {

// Reads `writer`'s modules with one bit flipped in each of the first `wrong`
// bytes (modules pack from bit 0, eight to a byte), plainly and with erasures.
struct TwoReads {
    ResultCode plain;
    bool withErasures;
};
TwoReads readWithWrongBytes(const CodeWriter& writer, int wrong, Corrections corrections = Corrections::Checked,
                            float certainty = 0.5f)
{
    std::vector<std::uint8_t> modules = writer.modules();
    std::vector<float> sure(modules.size(), 0.5f);
    for (int byte = 0; byte < wrong; ++byte) {
        modules[8 * (2 * byte + 1) + 3] ^= 1;
        sure[8 * (2 * byte + 1) + 3] = certainty;
    }
    std::string text;
    std::uint8_t dataType = 0, eccType = 0;
    const ResultCode plain = decodePayload(modules, 1, text, dataType, eccType, nullptr, corrections);
    const Found<PayloadRead> erased = decodePayloadWithErasures(modules, sure, 1, corrections);
    return {plain, static_cast<bool>(erased)};
}

// A grid that is one byte from a codeword of a small code is as likely a
// wrong grid (a smaller code read inside a larger one, a code-like place) as
// that code: a correction must leave parity unused to stand.
TEST(PayloadDecoder, ACorrectionStandsOnlyWithParityLeftOver)
{
    CodeWriter small(3, 43, 1); // 16 bytes, 2 of parity at Low
    small.buildCodeword(Digits, Low, "31415");
    small.fillModules(Horizontal);
    EXPECT_EQ(readWithWrongBytes(small, 0).plain, Success);
    EXPECT_TRUE(readWithWrongBytes(small, 0).withErasures);
    EXPECT_NE(readWithWrongBytes(small, 1).plain, Success);
    EXPECT_FALSE(readWithWrongBytes(small, 1).withErasures);
    // Unless the grey image doubted the module the correction changed...
    EXPECT_TRUE(readWithWrongBytes(small, 1, Corrections::Checked, 0.1f).withErasures);
    // ...or the place is read as it was given, where a code is most likely.
    EXPECT_EQ(readWithWrongBytes(small, 1, Corrections::AlsoWeak).plain, Success);
    EXPECT_TRUE(readWithWrongBytes(small, 1, Corrections::AlsoWeak).withErasures);

    CodeWriter larger(10, 40, 1); // 50 bytes, 4 of parity at Low
    larger.buildCodeword(Digits, Low, "31415");
    larger.fillModules(Horizontal);
    EXPECT_EQ(readWithWrongBytes(larger, 1).plain, Success);
    EXPECT_TRUE(readWithWrongBytes(larger, 1).withErasures);
    EXPECT_NE(readWithWrongBytes(larger, 2).plain, Success);
    EXPECT_FALSE(readWithWrongBytes(larger, 2).withErasures);

    // A code with more parity corrects as many bytes as it always has.
    CodeWriter strong(10, 40, 1); // 50 bytes, 15 of parity at High
    strong.buildCodeword(Digits, High, "31415");
    strong.fillModules(Horizontal);
    EXPECT_EQ(readWithWrongBytes(strong, 7).plain, Success);
}

} // namespace
} // namespace orb

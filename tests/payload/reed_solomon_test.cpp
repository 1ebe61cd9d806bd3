#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <thread>

#include "orb/payload/galois_field.h"
#include "orb/payload/reed_solomon.h"
#include "orb/result_code.h"

using namespace orb;

namespace {

std::vector<std::uint8_t> randomBytes(std::mt19937& rng, std::size_t count)
{
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::uint8_t> bytes(count);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(byte(rng));
    return bytes;
}

// Changes `count` distinct bytes of `word` to different values.
void corrupt(std::mt19937& rng, std::vector<std::uint8_t>& word, int count)
{
    std::vector<int> positions(word.size());
    for (std::size_t i = 0; i < word.size(); ++i) positions[i] = static_cast<int>(i);
    std::shuffle(positions.begin(), positions.end(), rng);
    std::uniform_int_distribution<int> delta(1, 255);
    for (int i = 0; i < count; ++i) word[positions[i]] ^= static_cast<std::uint8_t>(delta(rng));
}

int distance(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    int d = 0;
    for (std::size_t i = 0; i < a.size(); ++i) d += a[i] != b[i];
    return d;
}

} // namespace

TEST(GaloisField, TablesAreInverseAndProductsMatchCarrylessMultiplication)
{
    const GaloisTables& t = galoisTables();
    std::set<int> powers;
    for (int i = 0; i < 255; ++i) {
        EXPECT_EQ(t.exp[i], t.exp[i + 255]);
        EXPECT_EQ(t.log[t.exp[i]], i);
        powers.insert(t.exp[i]);
    }
    EXPECT_EQ(powers.size(), 255u); // 2 generates the whole multiplicative group
    auto slowMultiply = [](int a, int b) {
        int product = 0;
        for (; b; b >>= 1, a = (a << 1) ^ ((a & 0x80) ? 0x11D : 0))
            if (b & 1) product ^= a;
        return product & 0xFF;
    };
    for (int a = 0; a < 256; a += 7)
        for (int b = 0; b < 256; b += 5) {
            EXPECT_EQ(gfMultiply(a, b), slowMultiply(a, b));
            if (b != 0) {
                EXPECT_EQ(gfMultiply(gfDivide(a, b), b), a);
            }
        }
    EXPECT_THROW(gfDivide(3, 0), OCException);
}

TEST(GaloisField, TablesBuildOnceAcrossThreads)
{
    std::vector<const GaloisTables*> seen(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) threads.emplace_back([&seen, i] { seen[i] = &galoisTables(); });
    for (auto& thread : threads) thread.join();
    for (const auto* tables : seen) EXPECT_EQ(tables, seen[0]);
}

TEST(ReedSolomon, EncodeIsSystematicAndRejectsBadParameters)
{
    const std::vector<std::uint8_t> data{1, 2, 3};
    const auto word = encodeRS(data, 2);
    ASSERT_EQ(word.size(), 5u);
    EXPECT_EQ(std::vector<std::uint8_t>(word.begin(), word.begin() + 3), data);
    EXPECT_EQ(decodeRS(word, 2), data);

    try {
        encodeRS(data, 0);
        FAIL();
    } catch (const OCException& e) {
        EXPECT_EQ(e.code, WrongEccParameters);
        EXPECT_STREQ(e.what(), "ECC params are wrong (ECC length must be larger than 0)");
    }
    EXPECT_THROW(encodeRS(std::vector<std::uint8_t>(250), 6), OCException);
    EXPECT_NO_THROW(decodeRS(std::vector<std::uint8_t>(255), 10));
    try {
        decodeRS(std::vector<std::uint8_t>(256), 10);
        FAIL();
    } catch (const OCException& e) {
        EXPECT_EQ(e.code, WrongEccParameters);
        EXPECT_STREQ(e.what(), "ECC params are wrong (Payload size exceeds maximum)");
    }
    EXPECT_THROW(decodeRS(word, 0), OCException);
}

TEST(ReedSolomon, SingleParityByteCorrectsNothing)
{
    std::mt19937 rng(7);
    auto word = encodeRS(randomBytes(rng, 20), 1);
    EXPECT_EQ(decodeRS(word, 1).size(), 20u);
    word[4] ^= 0x40;
    EXPECT_TRUE(decodeRS(word, 1).empty());
}

TEST(ReedSolomon, ErrorsInParityOnlyAreCorrected)
{
    std::mt19937 rng(11);
    const auto data = randomBytes(rng, 30);
    auto word = encodeRS(data, 10);
    for (int i = 30; i < 35; ++i) word[i] ^= 0xA5;
    EXPECT_EQ(decodeRS(word, 10), data);
}

TEST(ReedSolomon, CorrectsEveryPatternUpToHalfTheParity)
{
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int> lengthDist(2, 255);
    for (int trial = 0; trial < 4000; ++trial) {
        const int n = lengthDist(rng);
        const int ecc = std::uniform_int_distribution<int>(1, std::min(n - 1, 80))(rng);
        const auto data = randomBytes(rng, n - ecc);
        auto word = encodeRS(data, ecc);
        corrupt(rng, word, std::uniform_int_distribution<int>(0, ecc / 2)(rng));
        ASSERT_EQ(decodeRS(word, ecc), data) << "n=" << n << " E=" << ecc;
    }
}

// Beyond the limit a word must come back as nothing, or as the data of a
// codeword that really lies within the correction radius.
TEST(ReedSolomon, WordsBeyondTheLimitNeverDecodeToAFalseCodeword)
{
    std::mt19937 rng(99);
    int refused = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        const int n = std::uniform_int_distribution<int>(4, 255)(rng);
        const int ecc = std::uniform_int_distribution<int>(2, std::min(n - 1, 40))(rng);
        const auto data = randomBytes(rng, n - ecc);
        auto word = encodeRS(data, ecc);
        corrupt(rng, word, std::uniform_int_distribution<int>(ecc / 2 + 1, std::min(n, ecc + 4))(rng));
        std::vector<std::uint8_t> result;
        ASSERT_NO_THROW(result = decodeRS(word, ecc));
        if (result.empty()) {
            ++refused;
            continue;
        }
        const auto codeword = encodeRS(result, ecc);
        EXPECT_LE(distance(codeword, word), ecc / 2) << "n=" << n << " E=" << ecc;
    }
    EXPECT_GT(refused, 3000);
}

TEST(ReedSolomon, LocatorPointingOutsideAShortenedWordIsRefused)
{
    // Received = codeword + one error inside + the remainder of an error at
    // degree 200, beyond the 40-byte word. Its syndromes are those of a
    // two-error pattern whose locator has a root outside the word.
    std::mt19937 rng(5);
    const int n = 40, ecc = 4, outside = 200;
    auto word = encodeRS(randomBytes(rng, n - ecc), ecc);
    std::vector<std::uint8_t> far(outside - ecc + 1, 0);
    far[0] = 0x5C;
    const auto farWord = encodeRS(far, ecc); // parity = 0x5C x^200 mod g
    for (int i = 0; i < ecc; ++i) word[n - ecc + i] ^= farWord[farWord.size() - ecc + i];
    word[7] ^= 0x33;
    EXPECT_TRUE(decodeRS(word, ecc).empty());
}

TEST(ReedSolomon, GarbageNeverThrows)
{
    std::mt19937 rng(3);
    for (int trial = 0; trial < 2000; ++trial) {
        const int n = std::uniform_int_distribution<int>(0, 255)(rng);
        const int ecc = std::uniform_int_distribution<int>(1, 120)(rng);
        const auto word = randomBytes(rng, n);
        std::vector<std::uint8_t> result;
        ASSERT_NO_THROW(result = decodeRS(word, ecc));
        if (!result.empty()) {
            EXPECT_EQ(result.size(), static_cast<std::size_t>(n - ecc));
        }
    }
}

namespace {

// `count` distinct positions of a word of length n.
std::vector<int> positionsIn(std::mt19937& rng, int n, int count)
{
    std::vector<int> positions(n);
    for (int i = 0; i < n; ++i) positions[i] = i;
    std::shuffle(positions.begin(), positions.end(), rng);
    positions.resize(count);
    return positions;
}

} // namespace

// Within 2e + f <= E every word comes back whole, with the changes counted
// where they were made; an erased byte that was right is not counted.
TEST(ReedSolomonErasures, CorrectsErrorsAndErasuresWithinTheBound)
{
    std::mt19937 rng(31);
    for (int trial = 0; trial < 3000; ++trial) {
        const int n = std::uniform_int_distribution<int>(3, 255)(rng);
        const int ecc = std::uniform_int_distribution<int>(1, std::min(n - 1, 60))(rng);
        const int f = std::uniform_int_distribution<int>(0, ecc)(rng);
        const int e = std::uniform_int_distribution<int>(0, (ecc - f) / 2)(rng);
        const auto codeword = encodeRS(randomBytes(rng, n - ecc), ecc);
        auto word = codeword;
        const std::vector<int> chosen = positionsIn(rng, n, f + e);
        const std::vector<int> erasures(chosen.begin(), chosen.begin() + f);
        int erasedWrong = 0;
        for (int i = 0; i < f + e; ++i) {
            // Some erased bytes keep their value.
            const bool keep = i < f && rng() % 4 == 0;
            if (keep) continue;
            word[chosen[i]] ^= static_cast<std::uint8_t>(std::uniform_int_distribution<int>(1, 255)(rng));
            erasedWrong += i < f;
        }
        const RsCorrection correction = decodeRSWithErasures(word, ecc, erasures);
        ASSERT_EQ(correction.word, codeword) << "n=" << n << " E=" << ecc << " f=" << f << " e=" << e;
        EXPECT_EQ(correction.errors, e);
        EXPECT_EQ(correction.erasuresChanged, erasedWrong);
    }
}

// Past the bound a word is refused, or comes back as a codeword that truly
// lies within it of the received word with those erasures.
TEST(ReedSolomonErasures, BeyondTheBoundNoWordIsReportedCorrected)
{
    std::mt19937 rng(77);
    int refused = 0;
    const int trials = 3000;
    for (int trial = 0; trial < trials; ++trial) {
        const int n = std::uniform_int_distribution<int>(6, 255)(rng);
        const int ecc = std::uniform_int_distribution<int>(2, std::min(n - 2, 40))(rng);
        const int f = std::uniform_int_distribution<int>(0, ecc - 1)(rng);
        const int e = std::uniform_int_distribution<int>((ecc - f) / 2 + 1, std::min(n - f, ecc - f + 4))(rng);
        auto word = encodeRS(randomBytes(rng, n - ecc), ecc);
        const std::vector<int> chosen = positionsIn(rng, n, f + e);
        for (const int position : chosen)
            word[position] ^= static_cast<std::uint8_t>(std::uniform_int_distribution<int>(1, 255)(rng));
        const std::vector<int> erasures(chosen.begin(), chosen.begin() + f);
        RsCorrection correction;
        ASSERT_NO_THROW(correction = decodeRSWithErasures(word, ecc, erasures));
        if (correction.word.empty()) {
            ++refused;
            continue;
        }
        // A codeword, and no farther than the bound outside the erasures.
        const std::vector<std::uint8_t> data(correction.word.begin(), correction.word.end() - ecc);
        EXPECT_EQ(encodeRS(data, ecc), correction.word);
        int outside = 0;
        for (int i = 0; i < n; ++i)
            outside += correction.word[i] != word[i] &&
                       std::find(erasures.begin(), erasures.end(), i) == erasures.end();
        EXPECT_EQ(outside, correction.errors);
        EXPECT_LE(2 * correction.errors + f, ecc);
    }
    EXPECT_GT(refused, trials * 3 / 4);
}

TEST(ReedSolomonErasures, RefusesWhatTheParityCannotCarry)
{
    std::mt19937 rng(12);
    const auto codeword = encodeRS(randomBytes(rng, 20), 4);
    // More erasures than parity bytes, or an index outside the word.
    EXPECT_TRUE(decodeRSWithErasures(codeword, 4, std::vector<int>{0, 1, 2, 3, 4}).word.empty());
    EXPECT_TRUE(decodeRSWithErasures(codeword, 4, std::vector<int>{24}).word.empty());
    EXPECT_TRUE(decodeRSWithErasures(codeword, 4, std::vector<int>{-1}).word.empty());
    // A repeated index counts once: four erasures, all of them wrong.
    auto word = codeword;
    for (const int i : {3, 9, 15, 22}) word[i] ^= 0x5A;
    const RsCorrection correction = decodeRSWithErasures(word, 4, std::vector<int>{3, 9, 9, 15, 22, 3});
    EXPECT_EQ(correction.word, codeword);
    EXPECT_EQ(correction.erasuresChanged, 4);
    // No erasures: the plain decoder's limit.
    word = codeword;
    word[2] ^= 1;
    word[5] ^= 1;
    EXPECT_EQ(decodeRSWithErasures(word, 4, {}).word, codeword);
    word[7] ^= 1;
    EXPECT_NE(decodeRSWithErasures(word, 4, {}).word, codeword);
}

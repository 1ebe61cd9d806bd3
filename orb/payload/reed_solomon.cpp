#include "orb/payload/reed_solomon.h"

#include <exception>
#include <optional>

#include "orb/logger.h"
#include "orb/payload/galois_field.h"
#include "orb/result_code.h"

namespace orb {

namespace {

void checkParameters(std::size_t wordLength, std::size_t eccLength)
{
    if (eccLength == 0) throw OCException(WrongEccParameters, "ECC length must be larger than 0");
    if (wordLength > 255) throw OCException(WrongEccParameters, "Payload size exceeds maximum");
}

// S_i = r(2^(i+1)), i = 0 .. eccLength-1, with byte 0 of `word` the highest degree.
GfPolynomial syndromes(const GaloisTables& t, std::span<const std::uint8_t> word, int eccLength)
{
    GfPolynomial s(eccLength, 0);
    for (int i = 0; i < eccLength; ++i) {
        const int power = i + 1;
        int value = 0;
        for (const std::uint8_t byte : word) value = (value == 0 ? 0 : t.exp[t.log[value] + power]) ^ byte;
        s[i] = value;
    }
    return s;
}

bool allZero(const GfPolynomial& p)
{
    for (const int c : p)
        if (c != 0) return false;
    return true;
}

// Berlekamp-Massey: the shortest error locator generating the syndromes.
GfPolynomial errorLocator(const GaloisTables& t, const GfPolynomial& s)
{
    const int count = static_cast<int>(s.size());
    GfPolynomial locator(count + 1, 0), previous(count + 1, 0);
    locator[0] = 1;
    previous[0] = 1;
    int length = 0, shift = 1, previousDiscrepancy = 1;
    for (int step = 0; step < count; ++step) {
        int discrepancy = s[step];
        for (int j = 1; j <= length; ++j) discrepancy ^= gfMultiply(t, locator[j], s[step - j]);
        if (discrepancy == 0) {
            ++shift;
            continue;
        }
        const int factor = gfDivide(discrepancy, previousDiscrepancy);
        GfPolynomial updated = locator;
        for (int j = 0; j + shift <= count; ++j) updated[j + shift] ^= gfMultiply(t, factor, previous[j]);
        if (2 * length <= step) {
            previous = locator;
            length = step + 1 - length;
            previousDiscrepancy = discrepancy;
            shift = 1;
        } else {
            ++shift;
        }
        locator = std::move(updated);
    }
    return locator;
}

// Berlekamp-Massey started from the erasure locator: the shortest locator
// that contains `erasureLocator` (degree f) and generates the syndromes.
GfPolynomial errorAndErasureLocator(const GaloisTables& t, const GfPolynomial& s, const GfPolynomial& erasureLocator)
{
    const int count = static_cast<int>(s.size());
    const int f = gfPolyDegree(erasureLocator);
    GfPolynomial locator = erasureLocator, previous = erasureLocator;
    locator.resize(count + 2, 0);
    previous.resize(count + 2, 0);
    int length = f;
    for (int step = f; step < count; ++step) {
        int discrepancy = 0;
        for (int j = 0; j <= length && j <= step; ++j) discrepancy ^= gfMultiply(t, locator[j], s[step - j]);
        // previous = x * previous; its top coefficient is zero (degrees stay below count + 1).
        GfPolynomial shifted(count + 2, 0);
        for (int j = 0; j + 1 < count + 2; ++j) shifted[j + 1] = previous[j];
        if (discrepancy == 0) {
            previous = std::move(shifted);
            continue;
        }
        GfPolynomial updated = locator;
        for (int j = 0; j < count + 2; ++j) updated[j] ^= gfMultiply(t, discrepancy, shifted[j]);
        if (2 * length <= step + f) {
            const int inverse = gfDivide(1, discrepancy);
            for (int j = 0; j < count + 2; ++j) previous[j] = gfMultiply(t, locator[j], inverse);
            length = step + 1 + f - length;
        } else {
            previous = std::move(shifted);
        }
        locator = std::move(updated);
    }
    return locator;
}

// Degrees (0 = last byte) at which `locator` has its roots inside the word,
// or nothing when some root lies outside it (fewer roots than its degree).
std::optional<std::vector<int>> locatedPositions(const GaloisTables& t, const GfPolynomial& locator, int n)
{
    std::vector<int> positions;
    for (int j = 0; j < n; ++j) {
        const int inverse = t.exp[(255 - j) % 255];
        if (gfPolyEvaluate(locator, inverse) == 0) positions.push_back(j);
    }
    if (static_cast<int>(positions.size()) != gfPolyDegree(locator)) return std::nullopt;
    return positions;
}

// Forney: the error values at `positions`, applied to the received word.
// Empty when the result is no codeword.
std::vector<std::uint8_t> applyCorrection(const GaloisTables& t, std::span<const std::uint8_t> received,
                                          const GfPolynomial& s, const GfPolynomial& locator,
                                          const std::vector<int>& positions, int eccLength)
{
    const int n = static_cast<int>(received.size());
    GfPolynomial evaluator = gfPolyMultiply(s, locator);
    evaluator.resize(eccLength);
    GfPolynomial derivative(locator.size() > 1 ? locator.size() - 1 : 1, 0);
    for (std::size_t i = 1; i < locator.size(); i += 2) derivative[i - 1] = locator[i];

    std::vector<std::uint8_t> word(received.begin(), received.end());
    for (const int j : positions) {
        const int inverse = t.exp[(255 - j) % 255];
        const int magnitude = gfDivide(gfPolyEvaluate(evaluator, inverse), gfPolyEvaluate(derivative, inverse));
        word[n - 1 - j] ^= static_cast<std::uint8_t>(magnitude);
    }
    // Beyond the correction limit the locator can point at a word that is
    // no codeword; only a word with zero syndromes is accepted.
    if (!allZero(syndromes(t, word, eccLength))) return {};
    return word;
}

std::vector<std::uint8_t> correct(const GaloisTables& t, std::span<const std::uint8_t> received, int eccLength)
{
    const int n = static_cast<int>(received.size());
    const int k = n - eccLength;
    const GfPolynomial s = syndromes(t, received, eccLength);
    if (allZero(s)) return {received.begin(), received.begin() + k};

    const GfPolynomial locator = errorLocator(t, s);
    const int degree = gfPolyDegree(locator);
    if (degree < 1 || degree > eccLength / 2) return {};

    // Chien search over the positions the shortened word has; a locator
    // root outside them leaves fewer roots than its degree.
    const auto positions = locatedPositions(t, locator, n);
    if (!positions) return {};
    std::vector<std::uint8_t> word = applyCorrection(t, received, s, locator, *positions, eccLength);
    if (word.empty()) return {};
    word.resize(k);
    return word;
}

RsCorrection correctWithErasures(const GaloisTables& t, std::span<const std::uint8_t> received, int eccLength,
                                 std::span<const int> erasures, int maxErrors, const GfPolynomial& s)
{
    const int n = static_cast<int>(received.size());
    std::vector<bool> erased(n, false);
    GfPolynomial erasureLocator{1};
    int f = 0;
    for (const int index : erasures) {
        if (index < 0 || index >= n) return {};
        if (erased[index]) continue;
        erased[index] = true;
        ++f;
        // (1 + X x), X = alpha^degree of the byte.
        erasureLocator = gfPolyMultiply(erasureLocator, GfPolynomial{1, t.exp[(n - 1 - index) % 255]});
    }
    if (f > eccLength) return {};

    RsCorrection result;
    if (allZero(s)) {
        result.word.assign(received.begin(), received.end());
        return result;
    }
    const GfPolynomial locator = errorAndErasureLocator(t, s, erasureLocator);
    const int degree = gfPolyDegree(locator);
    const int errors = degree - f;
    if (degree < 1 || errors < 0 || errors > maxErrors || 2 * errors + f > eccLength) return {};
    const auto positions = locatedPositions(t, locator, n);
    if (!positions) return {};
    std::vector<std::uint8_t> word = applyCorrection(t, received, s, locator, *positions, eccLength);
    if (word.empty()) return {};
    for (int i = 0; i < n; ++i) {
        if (word[i] == received[i]) continue;
        if (erased[i]) ++result.erasuresChanged;
        else ++result.errors;
    }
    result.word = std::move(word);
    return result;
}

} // namespace

std::vector<std::uint8_t> encodeRS(std::span<const std::uint8_t> data, std::size_t eccLength)
{
    checkParameters(data.size() + eccLength, eccLength);
    const GaloisTables& t = galoisTables();
    const GfPolynomial generator = rsGenerator(static_cast<int>(eccLength));
    const std::size_t k = data.size();
    // Long division by the monic generator, highest degree first.
    std::vector<std::uint8_t> word(data.begin(), data.end());
    word.resize(k + eccLength, 0);
    std::vector<int> remainder(word.begin(), word.end());
    for (std::size_t i = 0; i < k; ++i) {
        const int coefficient = remainder[i];
        if (coefficient == 0) continue;
        for (std::size_t j = 1; j <= eccLength; ++j)
            remainder[i + j] ^= gfMultiply(t, generator[eccLength - j], coefficient);
    }
    for (std::size_t i = k; i < k + eccLength; ++i) word[i] = static_cast<std::uint8_t>(remainder[i]);
    return word;
}

std::vector<std::uint8_t> decodeRS(std::span<const std::uint8_t> received, std::size_t eccLength)
{
    logger().line(LogLevel::Debug, "           decodeRS");
    checkParameters(received.size(), eccLength);
    // A word no longer than its parity carries no data.
    if (eccLength >= received.size()) return {};
    try {
        return correct(galoisTables(), received, static_cast<int>(eccLength));
    } catch (const std::exception&) {
        return {};
    }
}

RsCorrection decodeRSWithErasures(std::span<const std::uint8_t> received, std::size_t eccLength,
                                  std::span<const int> erasures, int maxErrors)
{
    logger().line(LogLevel::Debug, "           decodeRS");
    checkParameters(received.size(), eccLength);
    if (eccLength >= received.size()) return {};
    try {
        const GaloisTables& t = galoisTables();
        const int parity = static_cast<int>(eccLength);
        return correctWithErasures(t, received, parity, erasures, maxErrors, syndromes(t, received, parity));
    } catch (const std::exception&) {
        return {};
    }
}

RsReceived::RsReceived(std::span<const std::uint8_t> received, std::size_t maxEccLength)
    : received_(received.begin(), received.end())
{
    checkParameters(received.size(), maxEccLength);
    syndromes_ = syndromes(galoisTables(), received, static_cast<int>(maxEccLength));
}

RsCorrection RsReceived::correct(std::size_t eccLength, std::span<const int> erasures, int maxErrors) const
{
    // The syndromes of fewer parity bytes are the first of them.
    if (eccLength == 0 || eccLength > syndromes_.size() || eccLength >= received_.size()) return {};
    try {
        const GfPolynomial s(syndromes_.begin(), syndromes_.begin() + static_cast<std::ptrdiff_t>(eccLength));
        return correctWithErasures(galoisTables(), received_, static_cast<int>(eccLength), erasures, maxErrors, s);
    } catch (const std::exception&) {
        return {};
    }
}

} // namespace orb

#include "orb/payload/payload_decoder.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <sstream>

#include "orb/logger.h"
#include "orb/payload/compression.h"
#include "orb/payload/payload_frame.h"
#include "orb/payload/payload_types.h"
#include "orb/payload/reed_solomon.h"

namespace orb {

namespace {

// Module values, bitsPerModule bits each from bit 0, into bytes from bit 0;
// a final incomplete byte is dropped.
std::vector<std::uint8_t> packModules(const std::vector<std::uint8_t>& modules, int bitsPerModule)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(modules.size() * bitsPerModule / 8);
    unsigned current = 0;
    int filled = 0;
    for (const std::uint8_t module : modules)
        for (int i = 0; i < bitsPerModule; ++i) {
            current |= ((module >> i) & 1u) << filled;
            if (++filled == 8) {
                bytes.push_back(static_cast<std::uint8_t>(current));
                current = 0;
                filled = 0;
            }
        }
    return bytes;
}

void logReadData(const std::vector<std::uint8_t>& bytes)
{
    Logger& log = logger();
    if (!log.accepts(LogLevel::Trace)) return;
    std::ostringstream numbers;
    numbers << "{";
    for (const std::uint8_t byte : bytes) numbers << static_cast<int>(byte) << ", ";
    numbers << "}";
    log.line(LogLevel::Trace, "read data                        : ", numbers.str());
    log.line(LogLevel::Trace, "read data                        : ", "\"",
             std::string(bytes.begin(), bytes.end()), "\"");
}

// How many bytes of `received` the correction to `data` changed: the
// corrected codeword is the data with its parity made again.
int changedBytes(std::span<const std::uint8_t> received, const std::vector<std::uint8_t>& data, int parity)
{
    const std::vector<std::uint8_t> word = encodeRS(data, static_cast<std::size_t>(parity));
    int changed = 0;
    for (std::size_t i = 0; i < word.size() && i < received.size(); ++i) changed += word[i] != received[i];
    return changed;
}

// Corrections with erasures tried per ECC strength, at most.
constexpr int kErasureTries = 3;

// log2 of the ways to choose `k` of `n`.
double log2Choose(int n, int k)
{
    if (k < 0 || k > n) return 0;
    return (std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(n - k + 1.0)) / std::log(2.0);
}

// The frame of a corrected block under `ecc`, unpacked; the code of the
// frame check when it fails.
Found<PayloadRead> readFrame(const std::vector<std::uint8_t>& block, std::uint8_t ecc)
{
    std::vector<std::uint8_t> payload;
    std::uint8_t written = Automatic;
    const ResultCode result = checkFrame(block, ecc, payload, written);
    if (result != Success) return {result, {}};
    PayloadRead read;
    read.text = decompress(payload, acceptedDataType(written));
    read.dataType = written;
    read.eccType = ecc;
    return {Success, std::move(read)};
}

// The codeword's bits that the unsure modules carry, growing module by
// module, least sure first: which bytes they touch and which of their bits
// may change.
class UnsureBits {
public:
    UnsureBits(int capacity, int bitsPerModule) : free_(capacity, 0), bitsPerModule_(bitsPerModule) {}

    // The bits module `module` (logical index) adds inside the codeword.
    int bitsOf(int module) const
    {
        int inside = 0;
        for (int i = 0; i < bitsPerModule_; ++i)
            inside += byteOf(module, i) < static_cast<int>(free_.size());
        return inside;
    }
    // Whether all of the module's bits lie in bytes already erased.
    bool withinErased(int module) const
    {
        for (int i = 0; i < bitsPerModule_; ++i) {
            const int byte = byteOf(module, i);
            if (byte < static_cast<int>(free_.size()) && free_[byte] == 0) return false;
        }
        return true;
    }
    void add(int module)
    {
        for (int i = 0; i < bitsPerModule_; ++i) {
            const int byte = byteOf(module, i);
            if (byte >= static_cast<int>(free_.size())) continue;
            if (free_[byte] == 0) erased_.push_back(byte);
            free_[byte] |= static_cast<std::uint8_t>(1u << ((module * bitsPerModule_ + i) % 8));
            ++freeBits_;
        }
    }
    // Whether `corrected` changed only free bits of the erased bytes.
    bool keepsSureBits(std::span<const std::uint8_t> received, const std::vector<std::uint8_t>& corrected) const
    {
        for (const int byte : erased_)
            if ((received[byte] ^ corrected[byte]) & ~free_[byte]) return false;
        return true;
    }
    const std::vector<int>& erased() const { return erased_; }
    int freeBits() const { return freeBits_; }

private:
    int byteOf(int module, int bit) const { return (module * bitsPerModule_ + bit) / 8; }

    std::vector<std::uint8_t> free_; // per codeword byte, the bits unsure modules carry
    std::vector<int> erased_;
    int bitsPerModule_;
    int freeBits_ = 0;
};

// Whether every bit `corrected` changed in `received` is carried by a
// module less sure than kSureCertainty.
bool changesOnlyUnsureModules(std::span<const std::uint8_t> received, const std::vector<std::uint8_t>& corrected,
                              const std::vector<float>& certainty, int bitsPerModule)
{
    for (std::size_t byte = 0; byte < received.size(); ++byte)
        for (int bit = 0; bit < 8; ++bit)
            if ((received[byte] ^ corrected[byte]) >> bit & 1u) {
                const std::size_t module = (8 * byte + bit) / static_cast<std::size_t>(bitsPerModule);
                if (module >= certainty.size() || certainty[module] >= kSureCertainty) return false;
            }
    return true;
}

} // namespace

double correctionEvidence(int capacity, int parity, int errors, int erasures, int freeBits)
{
    return 8.0 * (parity - errors) - freeBits - log2Choose(capacity - erasures, errors);
}

ResultCode decodePayload(const std::vector<std::uint8_t>& modules, int bitsPerModule, std::string& text,
                         std::uint8_t& dataType, std::uint8_t& eccType, int* correctedErrors,
                         Corrections corrections)
{
    Logger& log = logger();
    log.line(LogLevel::Debug, "          read");
    if (bitsPerModule < 1 || bitsPerModule > 8) return InvalidConfiguration;

    const std::vector<std::uint8_t> bytes = packModules(modules, bitsPerModule);
    logReadData(bytes);
    const int capacity = codewordCapacity(8LL * static_cast<long long>(bytes.size()));
    const std::span<const std::uint8_t> codeword(bytes.data(), static_cast<std::size_t>(capacity));

    ResultCode result = EccUncorrectable;
    for (int strength = High; strength >= Low; --strength) {
        log.line(LogLevel::Trace, "decoder: try ECC strength: ", strength);
        const std::uint8_t ecc = static_cast<std::uint8_t>(strength);
        const std::vector<std::uint8_t> block = decodeRS(codeword, static_cast<std::size_t>(eccLength(capacity, ecc)));
        if (block.empty()) {
            log.line(LogLevel::Trace, "decoder: ECC strength: ", strength, " failed");
            result = EccUncorrectable;
            continue;
        }
        const int parity = eccLength(capacity, ecc);
        const int changed = changedBytes(codeword, block, parity);
        if (corrections == Corrections::Checked && changed > 0 &&
            correctionEvidence(capacity, parity, changed) < kCorrectionCheckBits) {
            log.line(LogLevel::Trace, "decoder: ECC strength: ", strength, " corrected ", changed,
                     " bytes, too many for its parity");
            result = EccUncorrectable;
            continue;
        }
        Found<PayloadRead> read = readFrame(block, ecc);
        result = read.code;
        if (!read) continue;
        text = std::move(read.value.text);
        dataType = read.value.dataType;
        eccType = ecc;
        if (correctedErrors) *correctedErrors = changed;
        return Success;
    }
    log.line(LogLevel::Debug, "           Error: ", resultText(result));
    return result;
}

Found<PayloadRead> decodePayloadWithErasures(const std::vector<std::uint8_t>& modules,
                                             const std::vector<float>& certainty, int bitsPerModule,
                                             Corrections corrections)
{
    Logger& log = logger();
    log.line(LogLevel::Debug, "          read with erasures");
    if (bitsPerModule < 1 || bitsPerModule > 8 || certainty.size() != modules.size())
        return {InvalidConfiguration, {}};

    const std::vector<std::uint8_t> bytes = packModules(modules, bitsPerModule);
    const int capacity = codewordCapacity(8LL * static_cast<long long>(bytes.size()));
    const std::span<const std::uint8_t> codeword(bytes.data(), static_cast<std::size_t>(capacity));

    // The modules that carry codeword bits and are not sure, least sure first.
    std::vector<int> unsure;
    for (int p = 0; p < static_cast<int>(modules.size()) && p * bitsPerModule < 8 * capacity; ++p)
        if (certainty[p] < kSureCertainty) unsure.push_back(p);
    std::stable_sort(unsure.begin(), unsure.end(), [&](int a, int b) { return certainty[a] < certainty[b]; });

    // High has the most parity bytes; every strength's syndromes are the first of its.
    if (eccLength(capacity, High) >= capacity) return {EccUncorrectable, {}};
    const RsReceived received(codeword, static_cast<std::size_t>(eccLength(capacity, High)));

    ResultCode result = EccUncorrectable;
    for (int strength = High; strength >= Low; --strength) {
        const auto ecc = static_cast<std::uint8_t>(strength);
        const int parity = eccLength(capacity, ecc);
        log.line(LogLevel::Trace, "decoder: try ECC strength with erasures: ", strength);

        // As the first read corrects: no erasures, up to half the parity in
        // errors. A correction that leaves too little parity unused stands
        // here when the grey image agrees: every bit it changed is an unsure
        // module's.
        if (const RsCorrection plain = received.correct(static_cast<std::size_t>(parity), {});
            !plain.word.empty() &&
            (plain.errors == 0 || corrections == Corrections::AlsoWeak ||
             correctionEvidence(capacity, parity, plain.errors) >= kCorrectionCheckBits ||
             changesOnlyUnsureModules(codeword, plain.word, certainty, bitsPerModule))) {
            const std::vector<std::uint8_t> block(plain.word.begin(), plain.word.begin() + (capacity - parity));
            Found<PayloadRead> read = readFrame(block, ecc);
            result = read.code;
            if (read) {
                read.value.correctedErrors = plain.errors;
                return read;
            }
        }

        // Then erasures: the unsure modules least sure first, each stop
        // taking every unsure module that falls in bytes already erased. A
        // stop that leaves an odd number of parity bytes corrects no more
        // errors than the one with a byte more erased, so is passed over;
        // of the others only a few, spread up to the last, are tried, so a
        // large grid that holds no code costs a few corrections, not one
        // per parity byte.
        const double spareBits = 8.0 * parity - kCorrectionCheckBits;
        const auto fits = [&](const UnsureBits& bits, int module) {
            return bits.freeBits() + bits.bitsOf(module) <= spareBits;
        };
        const auto grow = [&](UnsureBits& bits, std::size_t& next) {
            bits.add(unsure[next++]);
            while (next < unsure.size() && bits.withinErased(unsure[next]) && fits(bits, unsure[next]))
                bits.add(unsure[next++]);
        };
        std::vector<std::size_t> stops; // modules taken at each stop worth trying
        {
            UnsureBits bits(capacity, bitsPerModule);
            for (std::size_t next = 0; next < unsure.size() && fits(bits, unsure[next]);) {
                grow(bits, next);
                const int erasures = static_cast<int>(bits.erased().size());
                if (erasures > parity) break;
                const bool last = erasures == parity || next == unsure.size() || !fits(bits, unsure[next]);
                if ((parity - erasures) % 2 == 0 || last) stops.push_back(next);
            }
        }
        std::vector<std::size_t> tries;
        for (int k = 1; k <= kErasureTries && !stops.empty(); ++k) {
            const std::size_t stop = stops[(stops.size() * k + kErasureTries - 1) / kErasureTries - 1];
            if (tries.empty() || tries.back() != stop) tries.push_back(stop);
        }
        UnsureBits bits(capacity, bitsPerModule);
        std::size_t next = 0;
        for (const std::size_t stop : tries) {
            while (next < stop) grow(bits, next);
            const int erasures = static_cast<int>(bits.erased().size());
            // The most errors besides the erasures that still leave enough
            // evidence.
            const auto evidence = [&](int errors) {
                return correctionEvidence(capacity, parity, errors, erasures, bits.freeBits());
            };
            int maxErrors = 0;
            while (2 * (maxErrors + 1) + erasures <= parity && evidence(maxErrors + 1) >= kCorrectionCheckBits)
                ++maxErrors;
            const RsCorrection correction = received.correct(static_cast<std::size_t>(parity), bits.erased(), maxErrors);
            if (correction.word.empty() || !bits.keepsSureBits(codeword, correction.word)) continue;
            const int errors = correction.errors;
            const std::vector<std::uint8_t> block(correction.word.begin(),
                                                  correction.word.begin() + (capacity - parity));
            Found<PayloadRead> read = readFrame(block, ecc);
            result = read.code;
            if (!read) continue;
            read.value.correctedErrors = errors + correction.erasuresChanged;
            read.value.erasures = correction.erasuresChanged;
            log.line(LogLevel::Debug, "           read with ", erasures, " erasures");
            return read;
        }
    }
    log.line(LogLevel::Debug, "           Error: ", resultText(result));
    return {result, {}};
}

} // namespace orb

#include "orb/payload/payload_decoder.h"

namespace orb {

// Placeholder until the payload decoder lands.
ResultCode decodePayload(const std::vector<std::uint8_t>&, int, std::string&, std::uint8_t&, std::uint8_t&) { return EccUncorrectable; }

} // namespace orb

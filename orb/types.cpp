#include "orb/types.h"

#include "orb/payload/module_layout.h"
#include "orb/payload/payload_types.h"
#include "orb/result_code.h"

namespace orb {

std::string errorText(ReadError error) { return resultText(static_cast<std::int32_t>(error)); }
const char* layoutName(Layout layout) { return layoutName(static_cast<std::int32_t>(layout)); }
const char* eccTypeName(EccType eccType) { return eccTypeName(static_cast<std::uint8_t>(eccType)); }
const char* dataTypeName(DataType dataType) { return dataTypeName(static_cast<int>(dataType)); }

} // namespace orb

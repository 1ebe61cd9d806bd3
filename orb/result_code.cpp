#include "orb/result_code.h"

namespace orb {

const char* resultText(std::int32_t code)
{
    switch (code) {
    case Success: return "SUCCESS";
    case InnerCircleNotFound: return "Inner circle not found";
    case PerspectiveMarkersNotDetected: return "Perspective correction markers not detected";
    case WrongPerspectiveMarkerCount: return "Wrong number of perspective correction markers";
    case StartMarkerNotDetected: return "Start marker not detected";
    case WrongOuterZebraModuleCount: return "Wrong number of modules in the outer zebra pattern";
    case OuterZebraNotDetected: return "Outer angular zebra pattern not detected";
    case RadialZebraNotDetected: return "Radial zebra pattern not detected";
    case WrongGrid: return "Wrong grid";
    case EccUncorrectable: return "ECC cannot correct all errors";
    case WrongChecksum: return "Wrong checksum";
    case DataSizeExceedsMaximum: return "Data size exceeds maxium";
    case InsufficientCapacity: return "Orbel code does not have enough capacity";
    case CodeCannotBeCreated: return "Orbel code cannot be created";
    case MultipleStartMarkers: return "Multiple start markers found";
    case UnwantedRadialZebra: return "Unwanted radial zebra found";
    case InvalidConfiguration: return "Orbel code configuration is invalid";
    case UnknownDataType: return "Orbel code data type is unknwon";
    case WrongEccParameters: return "ECC params are wrong";
    case TailInconsistent: return "Tail data is inconsistent with header";
    case CodeTypeMismatch: return "CodeType and image type don't fit";
    default: return "";
    }
}

namespace {
std::string buildMessage(std::int32_t code, const std::string& detail)
{
    std::string message = resultText(code);
    if (!detail.empty()) message += " (" + detail + ")";
    return message;
}
} // namespace

OCException::OCException(std::int32_t code_, const std::string& detail)
    : std::runtime_error(buildMessage(code_, detail)), code(code_)
{
}

} // namespace orb

#include "orb/version.h"

namespace orb {
const char* version() { return ORB_VERSION_STRING; }
} // namespace orb

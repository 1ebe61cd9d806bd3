#include "app/settings.h"

namespace app {

// Filled in shortly; the record and the calls above are stable.
std::string codeTypeName(int codeType)
{
    if (codeType == 0) return "BlackAndWhite";
    if (codeType == 1) return "Color";
    return "";
}
int parseCodeTypeName(const std::string& text) { return text == "Color" ? 1 : 0; }
void readSettings(AppSettings&, const std::string&) {}
void saveSettings(const AppSettings&, const std::string&) {}
bool readSettingsFile(AppSettings&, const std::string&) { return false; }
bool writeSettingsFile(const AppSettings&, const std::string&) { return false; }

} // namespace app

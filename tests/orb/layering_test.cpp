// The library's folders include only downward: payload <- detection <-
// geometry <- the pipeline at the top, with the drawer beside detection and
// the code finder beside the pipeline (the stages below never include it).
// The leaf headers every layer shares (logger, result codes, configuration)
// include nothing of the library but the public value types, which include
// nothing at all.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

const std::string kValueTypes = "orb/types.h";
const std::set<std::string> kFoundation = {"orb/logger.h", "orb/result_code.h", "orb/decoder_configuration.h",
                                           kValueTypes};

// The folders a folder may include besides the foundation.
const std::map<std::string, std::set<std::string>> kAllowed = {
    {"payload", {"payload"}},
    {"detection", {"payload", "detection"}},
    {"geometry", {"payload", "detection", "geometry"}},
    {"drawing", {"payload", "drawing"}},
    // The code finder sits beside the pipeline: it may use the stages, and
    // only the readers at the top use it.
    {"finder", {"payload", "detection", "geometry", "finder"}},
};

std::string folderOf(const std::string& include)
{
    const auto slash = include.find('/', 4);
    return slash == std::string::npos ? "" : include.substr(4, slash - 4);
}

TEST(Layering, FoldersIncludeOnlyDownward)
{
    const fs::path root = fs::path(ORB_SOURCE_DIR);
    const std::regex includeLine(R"re(^\s*#\s*include\s+"(orb/[^"]+)")re");
    int checked = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root / "orb")) {
        if (!entry.is_regular_file()) continue;
        const std::string name = fs::relative(entry.path(), root).generic_string();
        const std::string folder = folderOf(name);
        const bool foundation = kFoundation.count(name) > 0;
        if (!foundation && !kAllowed.count(folder)) continue; // the top may include anything
        std::ifstream in(entry.path());
        for (std::string line; std::getline(in, line);) {
            std::smatch match;
            if (!std::regex_search(line, match, includeLine)) continue;
            const std::string included = match[1];
            ++checked;
            if (foundation) {
                if (included != kValueTypes || name == kValueTypes) ADD_FAILURE() << name << " is a leaf but includes " << included;
            } else if (!kFoundation.count(included) && !kAllowed.at(folder).count(folderOf(included))) {
                ADD_FAILURE() << name << " includes the higher " << included;
            }
        }
    }
    EXPECT_GT(checked, 50);
}

} // namespace

// The library's folders include only downward: payload <- detection <-
// geometry <- the pipeline at the top, with the drawer beside detection and
// the code finder beside the pipeline (the stages below never include it).
// The leaf headers every layer shares (logger, result codes, configuration)
// include nothing of the library.
// Above the library, each program keeps to its own code: the library
// includes nothing of the programs or tests, orbread nothing of ScanBench,
// and benchmarks no test header but the test support library's.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::set<std::string> kFoundation = {"orb/logger.h", "orb/result_code.h", "orb/decoder_configuration.h"};

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
                ADD_FAILURE() << name << " is a leaf but includes " << included;
            } else if (!kFoundation.count(included) && !kAllowed.at(folder).count(folderOf(included))) {
                ADD_FAILURE() << name << " includes the higher " << included;
            }
        }
    }
    EXPECT_GT(checked, 50);
}

// The top-level folders of the includes in the sources below `folder`
// that `allowed` does not name, as "file: include" lines.
std::vector<std::string> foreignIncludes(const std::string& folder, const std::set<std::string>& allowed)
{
    const fs::path root = fs::path(ORB_SOURCE_DIR);
    // A quoted include with a folder; a bare "name.h" is the folder's own.
    const std::regex includeLine(R"re(^\s*#\s*include\s+"([^"/]+)/[^"]+")re");
    std::vector<std::string> foreign;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root / folder)) {
        if (!entry.is_regular_file()) continue;
        const std::string name = fs::relative(entry.path(), root).generic_string();
        std::ifstream in(entry.path());
        for (std::string line; std::getline(in, line);) {
            std::smatch match;
            if (std::regex_search(line, match, includeLine) && !allowed.count(match[1]))
                foreign.push_back(name + ": " + line);
        }
    }
    return foreign;
}

TEST(Layering, ProgramsIncludeOnlyWhatTheyLink)
{
    const std::map<std::string, std::set<std::string>> allowed = {
        {"orb", {"orb"}},
        {"console", {}},
        {"app", {"orb", "console", "app"}},
        {"tools/orbread", {"orb", "console"}},
        {"bench", {"orb", "app", "support"}},
        {"tests/support", {"orb", "support"}},
    };
    for (const auto& [folder, folders] : allowed)
        for (const std::string& line : foreignIncludes(folder, folders)) ADD_FAILURE() << line;
    // orbwrite and orbsweep sit directly in tools/: orbwrite uses the library only.
    std::ifstream orbwrite(fs::path(ORB_SOURCE_DIR) / "tools" / "orbwrite.cpp");
    for (std::string line; std::getline(orbwrite, line);)
        EXPECT_EQ(line.find("#include \"app/"), std::string::npos) << "orbwrite: " << line;
}

// The libraries a program's link line in the Ninja build names; empty when
// the build is not Ninja's or has no such program.
std::optional<std::string> linkLibraries(const std::string& program)
{
    std::ifstream in(fs::path(ORB_BINARY_DIR) / "build.ninja");
    bool inProgram = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("build ", 0) == 0) inProgram = line.rfind("build " + program + ":", 0) == 0;
        const auto at = line.find("LINK_LIBRARIES = ");
        if (inProgram && at != std::string::npos) return line.substr(at);
    }
    return std::nullopt;
}

TEST(Layering, ToolsLinkNoCodeOfTheConsoleProgram)
{
    for (const std::string program : {"tools/orbread", "tools/orbwrite"}) {
        const std::optional<std::string> libraries = linkLibraries(program);
        if (!libraries) GTEST_SKIP() << "no Ninja link line for " << program;
        EXPECT_EQ(libraries->find("scanbench_app"), std::string::npos) << program << " " << *libraries;
        EXPECT_EQ(libraries->find("highgui"), std::string::npos) << program << " " << *libraries;
        EXPECT_EQ(libraries->find("orb_samples"), std::string::npos) << program << " " << *libraries;
    }
}

} // namespace

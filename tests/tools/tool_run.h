#pragma once
// Runs a program as a user does from a shell: its exit status and what it
// printed on each stream.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/temporary_directory.h"

namespace orb::testing {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string shellQuoted(const std::string& arg)
{
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Runs `program args` in `directory`, where its output is kept. `prefix`
// goes before the program (an environment change), `tail` after its
// arguments (a pipe, a redirection), both as they are.
inline ToolRun runTool(const std::string& program, const std::vector<std::string>& args,
                       const std::filesystem::path& directory, const std::string& prefix = "",
                       const std::string& tail = "")
{
    std::string command = prefix + shellQuoted(program);
    for (const auto& a : args) command += " " + shellQuoted(a);
    command = "cd " + shellQuoted(directory.string()) + " && " + command + tail + " > out.txt 2> err.txt";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(directory / "out.txt"), readFile(directory / "err.txt")};
}

} // namespace orb::testing

#pragma once
// The list of images to read, from the files, folders and "-" on the command
// line, with what went wrong while listing them.
#include <filesystem>
#include <string>
#include <vector>

namespace orbread {

// What listing an input found wrong.
enum class Problem {
    None,       // an image to read
    Warning,    // a note only (a symbolic link loop not followed): no output, no effect on the status
    NoImages,   // a folder without images: counts as an input without a code
    Unreadable, // no such file, an unreadable folder: counts as an input that could not be read
};

struct Input {
    std::string name;            // as shown in the output
    std::filesystem::path path;  // empty for standard input
    bool standardInput = false;
    Problem problem = Problem::None;
    std::string message;         // what the problem is, without the name
};

// The images named by `arguments`, in the order given; a folder's images
// sorted by name. A folder lists the files with an image file name ending;
// a file named on the command line is read whatever its name.
std::vector<Input> listInputs(const std::vector<std::string>& arguments, bool recursive);
// The same with the names of a --files-from list after them; there "-" is a
// file of that name, not standard input.
std::vector<Input> listInputs(const std::vector<std::string>& arguments, const std::vector<std::string>& listed,
                              bool recursive);

// The names in a --files-from list: separated by `separator` ('\n' or
// '\0'), empty ones skipped; with '\n', a trailing '\r' is dropped.
std::vector<std::string> splitNames(const std::string& text, char separator);

// Whether a file name ends the way the image files the reader takes do.
bool hasImageExtension(const std::filesystem::path& path);

} // namespace orbread

#include "inputs.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <utility>

#include <sys/stat.h>

namespace orbread {

namespace fs = std::filesystem;

namespace {

// A file's or directory's identity: the same real one reached by two
// paths (links forming a diamond) is read once.
using FileId = std::pair<dev_t, ino_t>;
using DirectoryId = FileId;

bool fileId(const fs::path& path, FileId& id)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return false;
    id = {info.st_dev, info.st_ino};
    return true;
}

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

class Lister {
public:
    explicit Lister(bool recursive) : recursive_(recursive) {}

    // `listed`: a name from --files-from, where "-" is a file of that name.
    void argument(const std::string& argument, bool listed = false)
    {
        if (argument == "-" && !listed) {
            Input input;
            input.name = "-";
            input.standardInput = true;
            inputs_.push_back(input);
            return;
        }
        const fs::path path(argument);
        std::error_code error;
        const fs::file_status status = fs::status(path, error);
        if (fs::is_directory(status)) {
            const std::size_t before = images_;
            const std::size_t problemsBefore = problems_;
            // Each folder named is listed in full, as a file named twice is read twice.
            visitedFolders_.clear();
            visitedFiles_.clear();
            // A link back to any folder above the one named is a loop too.
            std::vector<DirectoryId> above;
            fs::path real = fs::canonical(path, error);
            for (fs::path up = real.parent_path(); !error && !up.empty(); up = up.parent_path()) {
                DirectoryId id;
                if (fileId(up, id)) above.push_back(id);
                if (up == up.root_path()) break;
            }
            folder(path, argument, above);
            // A folder that could not be read has said so; "no images" would contradict it.
            if (images_ == before && problems_ == problemsBefore) problem(argument, path, Problem::NoImages, "no images in this folder" +
                                                                                  std::string(recursive_ ? "" : " (-r reads its subfolders)"));
            return;
        }
        // A file named by the user is read whatever it is; the reader says what is wrong with it.
        image(argument, path);
    }

    std::vector<Input> take() { return std::move(inputs_); }

private:
    void image(const std::string& name, const fs::path& path)
    {
        Input input;
        input.name = name;
        input.path = path;
        inputs_.push_back(input);
        ++images_;
    }

    void problem(const std::string& name, const fs::path& path, Problem kind, const std::string& message)
    {
        Input input;
        input.name = name;
        input.path = path;
        input.problem = kind;
        input.message = message;
        inputs_.push_back(input);
        if (kind == Problem::Unreadable) ++problems_;
    }

    // `above` holds the folders on the way down to this one, itself not yet.
    void folder(const fs::path& path, const std::string& name, std::vector<DirectoryId>& above)
    {
        DirectoryId id;
        if (!fileId(path, id)) {
            problem(name, path, Problem::Unreadable, "cannot open this folder");
            return;
        }
        if (std::find(above.begin(), above.end(), id) != above.end()) {
            problem(name, path, Problem::Warning, "symbolic link loop, not followed");
            return;
        }
        // Reached before by another way: its images are listed already.
        if (!visitedFolders_.insert(id).second) return;
        std::error_code error;
        fs::directory_iterator it(path, error);
        if (error) {
            problem(name, path, Problem::Unreadable, "cannot read this folder: " + error.message());
            return;
        }
        std::vector<fs::directory_entry> entries;
        for (; it != fs::directory_iterator(); it.increment(error)) {
            if (error) break;
            entries.push_back(*it);
        }
        if (error) problem(name, path, Problem::Unreadable, "cannot read this folder: " + error.message());
        std::sort(entries.begin(), entries.end(),
                  [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });

        above.push_back(id);
        for (const fs::directory_entry& entry : entries) {
            const fs::path& child = entry.path();
            const std::string childName = (fs::path(name) / child.filename()).string();
            std::error_code statusError;
            const fs::file_status status = fs::status(child, statusError);
            if (fs::is_directory(status)) {
                if (recursive_) folder(child, childName, above);
                continue;
            }
            if (!hasImageExtension(child)) continue;
            if (statusError && fs::is_symlink(fs::symlink_status(child, error))) {
                problem(childName, child, Problem::Unreadable,
                        "symbolic link to nothing readable: " + statusError.message());
                continue;
            }
            FileId file;
            if (fileId(child, file) && !visitedFiles_.insert(file).second) continue;
            image(childName, child);
        }
        above.pop_back();
    }

    bool recursive_;
    std::vector<Input> inputs_;
    std::size_t images_ = 0;
    std::size_t problems_ = 0;
    std::set<FileId> visitedFolders_;
    std::set<FileId> visitedFiles_; // in folders only: a file named twice is read twice
};

} // namespace

bool hasImageExtension(const fs::path& path)
{
    static const std::set<std::string> kExtensions = {".png", ".jpg",  ".jpeg", ".jpe", ".bmp", ".dib",
                                                      ".tif", ".tiff", ".webp", ".pbm", ".pgm", ".ppm",
                                                      ".pnm", ".pxm",  ".sr",   ".ras", ".jp2", ".hdr",
                                                      ".pic", ".exr",  ".svg",  ".gif"};
    return kExtensions.count(lowered(path.extension().string())) > 0;
}

std::vector<Input> listInputs(const std::vector<std::string>& arguments, bool recursive)
{
    Lister lister(recursive);
    for (const std::string& argument : arguments) lister.argument(argument);
    return lister.take();
}

std::vector<Input> listInputs(const std::vector<std::string>& arguments, const std::vector<std::string>& listed,
                              bool recursive)
{
    Lister lister(recursive);
    for (const std::string& argument : arguments) lister.argument(argument);
    for (const std::string& name : listed) lister.argument(name, true);
    return lister.take();
}

std::vector<std::string> splitNames(const std::string& text, char separator)
{
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(separator, start);
        if (end == std::string::npos) end = text.size();
        std::string name = text.substr(start, end - start);
        // A list written on Windows ends its lines in CR LF.
        if (separator == '\n' && !name.empty() && name.back() == '\r') name.pop_back();
        if (!name.empty()) names.push_back(std::move(name));
        start = end + 1;
    }
    return names;
}

} // namespace orbread

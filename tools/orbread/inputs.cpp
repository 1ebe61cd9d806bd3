#include "inputs.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <utility>

#include <sys/stat.h>

namespace orbread {

namespace fs = std::filesystem;

namespace {

// A directory's identity, to know one already on the way down.
using DirectoryId = std::pair<dev_t, ino_t>;

bool directoryId(const fs::path& path, DirectoryId& id)
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

    void argument(const std::string& argument)
    {
        if (argument == "-") {
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
            // A link back to any folder above the one named is a loop too.
            std::vector<DirectoryId> above;
            fs::path real = fs::canonical(path, error);
            for (fs::path up = real.parent_path(); !error && !up.empty(); up = up.parent_path()) {
                DirectoryId id;
                if (directoryId(up, id)) above.push_back(id);
                if (up == up.root_path()) break;
            }
            folder(path, argument, above);
            if (images_ == before) problem(argument, path, Problem::NoImages, "no images in this folder" +
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
    }

    // `above` holds the folders on the way down to this one, itself not yet.
    void folder(const fs::path& path, const std::string& name, std::vector<DirectoryId>& above)
    {
        DirectoryId id;
        if (!directoryId(path, id)) {
            problem(name, path, Problem::Unreadable, "cannot open this folder");
            return;
        }
        if (std::find(above.begin(), above.end(), id) != above.end()) {
            problem(name, path, Problem::Warning, "symbolic link loop, not followed");
            return;
        }
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
            image(childName, child);
        }
        above.pop_back();
    }

    bool recursive_;
    std::vector<Input> inputs_;
    std::size_t images_ = 0;
};

} // namespace

bool hasImageExtension(const fs::path& path)
{
    static const std::set<std::string> kExtensions = {".png", ".jpg",  ".jpeg", ".jpe", ".bmp", ".dib",
                                                      ".tif", ".tiff", ".webp", ".pbm", ".pgm", ".ppm",
                                                      ".pnm", ".pxm",  ".sr",   ".ras", ".jp2", ".hdr",
                                                      ".pic", ".exr"};
    return kExtensions.count(lowered(path.extension().string())) > 0;
}

std::vector<Input> listInputs(const std::vector<std::string>& arguments, bool recursive)
{
    Lister lister(recursive);
    for (const std::string& argument : arguments) lister.argument(argument);
    return lister.take();
}

} // namespace orbread

#include "options.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <iostream>
#include <limits>
#include <map>

#include <CLI/CLI.hpp>

#include "console/version.h"
#include "orb/payload/module_layout.h"

namespace orbread {

namespace {

const char* const kDescription = "orbread: reads Orbel codes from image files, folders, standard input or video.";

const char* const kCommonCommands = R"(
Common commands:
  orbread photo.jpg                     the text of each code, as "FILE: TEXT"
  orbread -r photos/ --json > codes.jsonl   a folder and its subfolders, one JSON object per code
  orbread --csv *.png > codes.csv       a table with a header line
  orbread --first --quiet scan.png      only the first code's line, no notes
  cat photo.png | orbread -             one image on standard input
  find photos -print0 | orbread --files-from - -0   names from a pipe, any name
  orbread --annotate seen/ photos/      pictures with each code outlined, in seen/
  orbread --video clip.avi --dedupe 2   codes in a video, each printed once while in view

Exit status: 0 when every input gave at least one code, 1 when some input
gave none, 2 for usage errors or inputs that could not be read.
See docs/orbread.md for the full reference.)";

// The check of a whole-number option: CLI11 puts the option's name before
// the message. Its own range checks print the type's limits in full.
CLI::Validator wholeNumber(long long low, long long high)
{
    const std::string range = high == std::numeric_limits<long long>::max()
                                  ? ", " + std::to_string(low) + " or more"
                                  : " from " + std::to_string(low) + " to " + std::to_string(high);
    return CLI::Validator(
        [=](const std::string& text) -> std::string {
            std::size_t used = 0;
            long long value = 0;
            try {
                value = std::stoll(text, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used == 0 || used != text.size() || value < low || value > high)
                return "takes a whole number" + range + ", not '" + text + "'";
            return {};
        },
        "", "");
}

CLI::Validator seconds()
{
    return CLI::Validator(
        [](const std::string& text) -> std::string {
            std::size_t used = 0;
            double value = -1;
            try {
                value = std::stod(text, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used == 0 || used != text.size() || !std::isfinite(value) || value < 0)
                return "takes a number of seconds, 0 or more, not '" + text + "'";
            return {};
        },
        "", "");
}

// A name from `names`, in any case.
CLI::Validator oneOf(const std::vector<std::string>& names)
{
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) list += (i > 0 ? ", " : "") + names[i];
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            for (const std::string& name : names)
                if (std::equal(name.begin(), name.end(), text.begin(), text.end(),
                               [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) ==
                                                           std::tolower(static_cast<unsigned char>(b)); })) {
                    text = name;
                    return {};
                }
            return "takes one of " + list + ", not '" + text + "'";
        },
        "", "");
}

} // namespace

std::string versionText() { return std::string("orbread ") + console::kVersion; }

ParsedCommandLine parseCommandLine(int argc, char** argv)
{
    ParsedCommandLine parsed;
    Options& o = parsed.options;
    CLI::App app(kDescription, "orbread");
    app.footer(kCommonCommands);
    app.set_version_flag("--version", versionText(), "Show the version and exit");
    app.get_formatter()->column_width(30);

    app.add_option("inputs", o.inputs, "Image files, folders, or - for one image on standard input")
        ->type_name("FILE|FOLDER|-");
    auto* filesFrom = app.add_option("--files-from", o.filesFrom,
                                     "Read the files and folders named in FILE too, one per line (- for standard input)")
                          ->type_name("FILE|-");
    app.add_flag("-0,--null", o.nulSeparated, "With --files-from: the names end in NUL bytes (find -print0), not lines")
        ->needs(filesFrom);
    auto* recursive = app.add_flag("-r,--recursive", o.recursive, "Read the images of folders' subfolders too");

    bool json = false, csv = false;
    auto* jsonFlag = app.add_flag("--json", json, "One JSON object per line: per code, or per input without one");
    app.add_flag("--csv", csv, "Comma-separated values with a header line")->excludes(jsonFlag);

    std::string codeType = "auto";
    app.add_option("--code-type", codeType, "Code types tried: bw, color or auto (both, black-and-white first)")
        ->transform(oneOf({"bw", "color", "colour", "auto"}))
        ->type_name("bw|color|auto");
    std::string layout = "auto";
    std::vector<std::string> layoutNames{"auto"};
    for (int i = orb::Horizontal; i <= orb::Scrambled; ++i) layoutNames.push_back(orb::layoutName(i));
    app.add_option("--layout", layout, "Module layout: auto (all, the default one first) or one of " +
                                           [&] {
                                               std::string names;
                                               for (std::size_t i = 1; i < layoutNames.size(); ++i)
                                                   names += (i > 1 ? ", " : "") + layoutNames[i];
                                               return names;
                                           }())
        ->transform(oneOf(layoutNames))
        ->type_name("NAME|auto");
    bool first = false;
    auto* firstFlag = app.add_flag("--first", first, "Stop at the first code of each image");
    std::size_t maxCodes = 0;
    app.add_option("--max-codes", maxCodes, "Stop after N codes in each image")
        ->check(wholeNumber(1, std::numeric_limits<long long>::max()))
        ->type_name("N")
        ->excludes(firstFlag);
    bool noFinder = false;
    app.add_flag("--no-finder", noFinder,
                 "Read each image as one centred code only (the decode of ScanBench's file mode), no search");
    auto* annotate = app.add_option("--annotate", o.annotateDir,
                   "Write each image as a PNG in DIR with the codes found outlined (failed places in red)")
        ->type_name("DIR");
    app.add_option("--threads", o.threads, "Images read at once (default: one per core)")
        ->check(wholeNumber(1, 1024))
        ->type_name("N");
    app.add_flag("-q,--quiet", o.quiet, "Print only the codes: no notes on inputs without one, no progress bar");

    auto* video = app.add_option("--video", o.video,
                                 "Read the frames of a video file, image sequence (img%04d.png), camera number or "
                                 "stream URL instead of images")
                      ->type_name("SOURCE")
                      ->excludes(annotate)
                      ->excludes(recursive);
    app.add_option("--every", o.every, "With --video: read every N-th frame (default 1)")
        ->check(wholeNumber(1, 1000000))
        ->needs(video)
        ->type_name("N");
    app.add_option("--dedupe", o.dedupe,
                   "With --video: print a code again only after it was out of view this long")
        ->check(seconds())
        ->needs(video)
        ->type_name("SECONDS");

    try {
        app.parse(argc, argv);
        if (o.video.empty() && o.inputs.empty() && o.filesFrom.empty())
            throw CLI::ValidationError("no input given: name image files, folders or - (see orbread --help)");
        if (!o.video.empty() && (!o.inputs.empty() || !o.filesFrom.empty()))
            throw CLI::ValidationError("--video reads one source; give no other inputs with it");
        if (std::count(o.inputs.begin(), o.inputs.end(), "-") > 1)
            throw CLI::ValidationError("standard input (-) can be given once only");
        if (o.filesFrom == "-" && std::count(o.inputs.begin(), o.inputs.end(), "-") > 0)
            throw CLI::ValidationError("standard input (-) cannot hold both the --files-from list and an image");
    } catch (const CLI::CallForHelp& e) {
        parsed.exitStatus = app.exit(e);
        return parsed;
    } catch (const CLI::CallForVersion& e) {
        parsed.exitStatus = app.exit(e);
        return parsed;
    } catch (const CLI::ParseError& e) {
        std::string message = e.what();
        if (message.find("--help") == std::string::npos) message += " (see orbread --help)";
        std::cerr << "orbread: " << message << "\n";
        parsed.exitStatus = 2;
        return parsed;
    }

    o.format = json ? Format::Json : csv ? Format::Csv : Format::Text;
    std::transform(codeType.begin(), codeType.end(), codeType.begin(), ::tolower);
    o.reader.codeTypes = codeType == "bw"                           ? orb::CodeTypes::BlackAndWhite
                         : codeType == "color" || codeType == "colour" ? orb::CodeTypes::Color
                                                                       : orb::CodeTypes::Both;
    o.reader.layout = orb::kAnyLayout;
    for (int i = orb::Horizontal; i <= orb::Scrambled; ++i)
        if (layout == orb::layoutName(i)) o.reader.layout = i;
    if (first) o.maxCodes = 1;
    if (maxCodes > 0) o.maxCodes = maxCodes;
    o.reader.findCodes = !noFinder;
    return parsed;
}

} // namespace orbread

// orbwrite: writes a text as a printable Orbel code, PNG or SVG. Its options
// are parsed by CLI11, as orbread's are.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <charconv>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "console/version.h"
#include "orb/drawing/code_geometry.h"
#include "orb/drawing/svg_writer.h"
#include "orb/drawing/text_code.h"
#include "orb/drawing/write_checks.h"
#include "orb/payload/code_writer.h"
#include "orb/reader.h"
#include "orb/result_code.h"

namespace {

using namespace orb;

// A text is at most 256 payload bytes, so no longer text can fit; the bound
// keeps a runaway pipe from filling memory.
constexpr std::size_t kMostTextBytes = 64 * 1024;

const char* const kFooter = R"(
TEXT "-" reads the text from standard input, byte for byte (a trailing
newline is part of it). A text that starts with "-" goes after "--".
Each code is read back before it is written; one that does not read is not
written (--no-verify writes it anyway).

Exit status: 0 when the file was written, 1 when the code could not be made,
did not read back or could not be written, 2 for wrong usage.

Example: orbwrite -o hello.png "Hello, ScanBench!")";

struct Arguments {
    Arguments()
    {
        drawing.pitch = kDefaultWritePitch;
        // Centred in its image: the middle of an even canvas is a pixel
        // corner, half a pixel before the canvas centre the offset counts from.
        drawing.centreOffset = {-0.5, -0.5};
    }
    std::string text;
    bool haveText = false;
    std::string textFile; // "-": standard input
    bool verify = true;
    std::string output;
    TextCodeOptions code;
    DrawOptions drawing;
    bool labels = false;
    bool help = false;
    bool version = false;
    std::string helpText;
};

struct UsageError {
    std::string message;
};

bool equalsIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

template <class NameOf>
int parseName(const std::string& option, const std::string& value, int count, NameOf nameOf)
{
    std::string names;
    for (int i = 0; i < count; ++i) {
        if (equalsIgnoringCase(value, nameOf(i))) return i;
        names += std::string(i ? ", " : "") + nameOf(i);
    }
    throw UsageError{option + " must be one of " + names + ", not \"" + value + "\""};
}

template <class T>
T parseNumber(const std::string& option, const std::string& value)
{
    T number{};
    const char* end = value.data() + value.size();
    const auto [ptr, ec] = std::from_chars(value.data(), end, number);
    if (ec != std::errc() || ptr != end || value.empty())
        throw UsageError{option + " needs a number, not \"" + value + "\""};
    return number;
}

// The name of the option a CLI11 message is about: its text up to the first ':'.
std::string optionOf(const std::string& message)
{
    const auto colon = message.find(':');
    return colon == std::string::npos ? message : message.substr(0, colon);
}

int mostReadableRings() { return orb::mostReadableRings(ReaderOptions{}.maxWorkingWidth); }

const std::vector<std::string> kValueOptions{"-o",     "--output", "--modules", "--rings", "--ecc",
                                             "--type", "--layout", "--mask",    "--pitch", "--text-file"};

// CLI11 takes "-hello" for "-h -e -l ..." and "-oops" for "-o ops": a text
// that starts with a dash would print the help or name an output file. Such
// clusters are refused before CLI11 sees them, with the way to write it.
void refuseOptionClusters(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") return;
        if (std::find(kValueOptions.begin(), kValueOptions.end(), arg) != kValueOptions.end()) {
            ++i; // its value may start with a dash
            continue;
        }
        if (arg.size() > 2 && arg[0] == '-' && arg[1] != '-' && std::isalpha(static_cast<unsigned char>(arg[1])))
            throw UsageError{"unknown option " + arg + " (a text that starts with - goes after --: orbwrite -o FILE -- " +
                             arg + ")"};
    }
}

// The text from a file or, for "-", standard input, byte for byte.
std::string readText(const std::string& source)
{
    std::ifstream file;
    std::istream* in = &std::cin;
    if (source != "-") {
        file.open(source, std::ios::binary);
        if (!file) throw UsageError{"cannot read the text file " + source};
        in = &file;
    }
    std::string text(kMostTextBytes + 1, '\0');
    in->read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in->bad()) throw UsageError{"cannot read the text from " + (source == "-" ? "standard input" : source)};
    text.resize(static_cast<std::size_t>(in->gcount()));
    if (text.size() > kMostTextBytes)
        throw UsageError{"the text is over " + std::to_string(kMostTextBytes / 1024) +
                         " KiB; a code holds at most 256 bytes"};
    return text;
}

// Parsed by CLI11, the same parser as orbread's; each value is then checked
// here, so a refusal names the option and what it takes.
Arguments parseArguments(int argc, char** argv)
{
    refuseOptionClusters(argc, argv);
    Arguments args;
    CLI::App app("orbwrite: writes TEXT as an Orbel code image.", "orbwrite");
    app.footer(kFooter);
    app.allow_extras();
    app.get_formatter()->column_width(24);
    std::optional<std::string> text;
    std::optional<std::string> modules, rings, ecc, type, layout, mask, pitch;
    bool color = false;
    std::optional<std::string> textFile;
    bool noVerify = false;
    app.add_option("TEXT", text, "The text to write (in quotes when it has spaces); - reads standard input");
    app.add_option("--text-file", textFile, "Read the text from FILE, byte for byte")->type_name("FILE");
    app.add_option("-o,--output", args.output, "Output file, FILE.png (raster) or FILE.svg (vector, for print)")
        ->type_name("FILE");
    app.add_option("--modules", modules, "Modules per ring: 16, 32, 48 or 64 (default 32)")->type_name("N");
    const int mostRings = mostReadableRings();
    app.add_option("--rings", rings,
                   "Number of data rings, 2 to " + std::to_string(mostRings) +
                       " (default: the fewest that hold the text)")
        ->type_name("N");
    app.add_option("--ecc", ecc, "Error correction: Low, Medium, Quartile or High (default Medium)")
        ->type_name("NAME");
    app.add_option("--type", type,
                   "Data type: Automatic, Digits, Letters, Numbers, Ascii, Binary, BigLetters or Latin1 "
                   "(default Automatic)")
        ->type_name("NAME");
    app.add_option("--layout", layout,
                   "Module layout: Horizontal, Vertical, VerticalSnake, HorizontalSnakeLarge, "
                   "HorizontalSnakeSmall or Scrambled (default HorizontalSnakeSmall)")
        ->type_name("NAME");
    app.add_option("--mask", mask, "Mask 0 to 4 (default 0; the reader tries all five)")->type_name("N");
    app.add_flag("--color,--colour", color, "A colour code: three bits per module in eight colours");
    app.add_option("--pitch", pitch, "Ring pitch in pixels, 5 to 400 (default 12)")->type_name("PX");
    app.add_flag("--labels", args.labels, "Name the parts of the code beside it (PNG only; for documentation)");
    app.add_flag("--no-verify", noVerify, "Write the code without reading it back first");
    app.add_flag("--version", args.version, "Show the version and exit");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        args.help = true;
        args.helpText = app.help();
        return args;
    } catch (const CLI::ArgumentMismatch& e) {
        throw UsageError{optionOf(e.what()) + " needs a value"};
    } catch (const CLI::ParseError& e) {
        throw UsageError{std::string(e.what()) + " (see orbwrite --help)"};
    }
    for (const std::string& extra : app.remaining()) {
        if (extra == "--") continue;
        if (extra.size() > 1 && extra[0] == '-') throw UsageError{"unknown option " + extra + " (see orbwrite --help)"};
        throw UsageError{"give the text as one argument (put it in quotes)"};
    }
    if (args.version) return args;
    if (text && textFile) throw UsageError{"give the text or --text-file, not both"};
    if (text && *text == "-") textFile = "-";
    if (textFile) args.textFile = *textFile;
    else if (text) {
        args.text = *text;
        args.haveText = true;
    }
    args.verify = !noVerify;
    if (color) args.drawing.codeType = Color;
    if (modules) {
        args.code.modulesPerRing = parseNumber<int>("--modules", *modules);
        if (!isValidModuleCount(args.code.modulesPerRing))
            throw UsageError{"--modules must be 16, 32, 48 or 64, not " + *modules};
    }
    if (rings) {
        args.code.ringCount = parseNumber<int>("--rings", *rings);
        // More rings than the reader reads back are refused here, before the
        // writer allocates their modules.
        if (args.code.ringCount < kFewestWrittenRings || args.code.ringCount > mostRings)
            throw UsageError{"--rings must be 2 to " + std::to_string(mostRings) +
                             " (larger codes do not read back), not " + *rings};
    }
    if (ecc) args.code.eccType = static_cast<std::uint8_t>(parseName("--ecc", *ecc, 4, [](int i) { return eccTypeName(i); }));
    if (type)
        args.code.dataType =
            static_cast<std::uint8_t>(parseName("--type", *type, 8, [](int i) { return dataTypeName(i); }));
    if (layout) args.code.layout = parseName("--layout", *layout, 6, [](int i) { return layoutName(i); });
    if (mask) {
        args.code.mask = parseNumber<int>("--mask", *mask);
        if (args.code.mask < 0 || args.code.mask > 4) throw UsageError{"--mask must be 0 to 4, not " + *mask};
    }
    if (pitch) {
        args.drawing.pitch = parseNumber<double>("--pitch", *pitch);
        if (!(args.drawing.pitch >= kSmallestPitch && args.drawing.pitch <= kLargestPitch))
            throw UsageError{"--pitch must be 5 to 400 pixels, not " + *pitch};
    }
    return args;
}

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && equalsIgnoringCase(text.substr(text.size() - suffix.size()), suffix);
}

// Names the cause of a refused text in the user's terms.
std::string explain(const OCException& e, const Arguments& args)
{
    return writeRefusal(e, args.code, args.drawing.codeType, "--rings");
}

struct Label {
    cv::Point2d target;
    std::string text;
};

// The parts of the code, each at a point that lies inside it.
std::vector<Label> partLabels(const CodePlan& plan)
{
    const CodeGeometry& g = plan.geometry;
    const int m = g.modulesPerRing;
    const double p = plan.placement.pitch;
    auto at = [&](double radius, double position) {
        const double a = plan.placement.startAngle - position * kTwoPi / m;
        return plan.placement.centre + cv::Point2d(radius * p * std::cos(a), -radius * p * std::sin(a));
    };
    const int last = g.ringCount - 1;
    return {
        {at(0, 0), "black dot, radius h/3"},
        {at(g.hubRadius * 0.66, m * 0.375), "white hub, radius h = 3p (the inner circle)"},
        {at(g.hubRadius + g.zebraBand() / 2, m * 0.625), "inner zebra: solid band, h .. h+z, z = h/6"},
        {at(g.notchInnerRadius() + g.zebraBand() / 2, 3), "inner zebra: notch at positions 3, 7, ..."},
        {at(g.outerRadius() - 0.5, 0), "start marker bar, position 0"},
        {at(g.ringMiddleRadius(last), 1), "corridor, positions 1, M-2, M-1 (white)"},
        {at(g.ringMiddleRadius(last - 1), 2), "radial zebra, position 2"},
        {at(g.ringMiddleRadius(0), 3), "data ring 0, the innermost; data from position 3"},
        {at(g.ringMiddleRadius(last), m * 0.5), "data ring R-1 (outermost), one pitch p per ring"},
        {at(g.outerRadius() - 0.5, m * 0.75 + 1), "outer zebra, one pitch, even positions black"},
        {at(g.outerRadius() + 1, m * 0.875), "quiet zone, 2p"},
    };
}

// Places the code on a wider canvas and writes the part names beside it,
// with a leader line to each part.
cv::Mat labelledImage(const DrawnCode& code)
{
    const int font = cv::FONT_HERSHEY_SIMPLEX;
    const double scale = 0.5;
    const int lineHeight = 22;
    const cv::Scalar ink(200, 90, 0);
    const std::vector<Label> labels = partLabels(code.plan);
    int margin = 0;
    for (const Label& label : labels) {
        int baseline = 0;
        margin = std::max(margin, cv::getTextSize(label.text, font, scale, 1, &baseline).width + 40);
    }
    cv::Mat image(code.image.rows + 40, code.image.cols + 2 * margin, CV_8UC3, cv::Scalar(255, 255, 255));
    code.image.copyTo(image(cv::Rect(margin, 20, code.image.cols, code.image.rows)));
    const cv::Point2d shift(margin, 20);
    const double cx = code.plan.placement.centre.x + margin;

    std::vector<Label> left, right;
    for (Label label : labels) {
        label.target += shift;
        (label.target.x < cx ? left : right).push_back(label);
    }
    for (auto* side : {&left, &right}) {
        std::sort(side->begin(), side->end(), [](const Label& a, const Label& b) { return a.target.y < b.target.y; });
        const bool onLeft = side == &left;
        double y = 0;
        for (const Label& label : *side) {
            y = std::max(y + lineHeight, label.target.y);
            int baseline = 0;
            const cv::Size size = cv::getTextSize(label.text, font, scale, 1, &baseline);
            const int textX = onLeft ? margin - 16 - size.width : image.cols - margin + 16;
            const cv::Point textAt(textX, static_cast<int>(y) + size.height / 2);
            const cv::Point lineFrom(onLeft ? margin - 10 : image.cols - margin + 10, static_cast<int>(y));
            const cv::Point target(static_cast<int>(std::lround(label.target.x)),
                                   static_cast<int>(std::lround(label.target.y)));
            cv::line(image, lineFrom, target, ink, 1, cv::LINE_AA);
            cv::circle(image, target, 3, ink, cv::FILLED, cv::LINE_AA);
            cv::putText(image, label.text, textAt, font, scale, ink, 1, cv::LINE_AA);
        }
    }
    return image;
}

// Why the default reader does not give `text` back from `image`; empty when
// it does. The drawn image is what the PNG holds and what the SVG renders.
bool writeFile(const std::string& path, const DrawnCode& code)
{
    if (endsWith(path, ".svg")) {
        std::ofstream file(path, std::ios::binary);
        file << codeSvg(code.plan);
        return static_cast<bool>(file.flush());
    }
    try {
        return cv::imwrite(path, code.image);
    } catch (const cv::Exception&) {
        return false;
    }
}

int run(int argc, char** argv)
{
    const Arguments args = parseArguments(argc, argv);
    if (args.help) {
        std::cout << args.helpText;
        return 0;
    }
    if (args.version) {
        std::cout << "orbwrite " << console::kVersion << "\n";
        return 0;
    }
    if (!args.haveText && args.textFile.empty()) throw UsageError{"no text given (see orbwrite --help)"};
    if (args.output.empty()) throw UsageError{"no output file given: -o FILE.png or -o FILE.svg"};
    if (!endsWith(args.output, ".png") && !endsWith(args.output, ".svg"))
        throw UsageError{"the output file must end in .png or .svg: " + args.output};
    if (args.labels && !endsWith(args.output, ".png")) throw UsageError{"--labels writes PNG files only"};

    // The writer's filler bytes come from the C library generator.
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    const std::string text = args.textFile.empty() ? args.text : readText(args.textFile);
    DrawnCode code;
    TextCode modules;
    try {
        modules = writeTextCode(text, args.code, args.drawing.codeType);
    } catch (const OCException& e) {
        std::cerr << "orbwrite: " << explain(e, args) << "\n";
        return 1;
    }
    if (modules.ringCount > mostReadableRings()) {
        std::cerr << "orbwrite: text too long for a code that reads back: it needs " << modules.ringCount
                  << " rings of " << modules.modulesPerRing << " modules, and codes of more than "
                  << mostReadableRings() << " rings do not read (use more --modules)\n";
        return 1;
    }
    try {
        code = drawCode(modules.modules, modules.modulesPerRing, modules.ringCount, args.drawing);
    } catch (const OCException& e) {
        std::cerr << "orbwrite: cannot draw the code: " << e.what() << "\n";
        return 1;
    }
    if (args.verify) {
        if (const std::string problem = orb::readBackProblem(readCode(code.image), text); !problem.empty()) {
            std::cerr << "orbwrite: the code does not read back (" << problem
                      << "), so it was not written; another --mask, --pitch or --modules may read, "
                         "--no-verify writes it anyway\n";
            return 1;
        }
    }
    if (args.labels) code.image = labelledImage(code);
    if (!writeFile(args.output, code)) {
        std::cerr << "orbwrite: cannot write " << args.output << "\n";
        return 1;
    }
    std::cout << "wrote " << args.output << ": " << modules.modulesPerRing << " modules per ring, "
              << modules.ringCount << " rings, " << (args.drawing.codeType == Color ? "colour" : "black and white")
              << ", " << dataTypeName(modules.dataType) << ", " << eccTypeName(modules.eccType) << " ECC, "
              << layoutName(args.code.layout) << ", mask " << args.code.mask << ", " << code.image.cols << "x"
              << code.image.rows << " px\n";
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const UsageError& e) {
        std::cerr << "orbwrite: " << e.message << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "orbwrite: " << e.what() << "\n";
        return 1;
    }
}

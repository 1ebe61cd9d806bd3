// Writes the seed corpora: the examples and a few drawn codes as decode
// inputs, written codes as module vectors and writer options, and settings
// files. Run from the repository root:
//   make_seeds examples fuzz/corpus
// Each decode seed is decoded once here and its outcome printed, so a seed
// that no longer reads shows up when the corpora are remade.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "fuzz_support.h"
#include "orb/decoder.h"
#include "orb/drawing/text_code.h"
#include "orb/payload/module_geometry.h"
#include "orb/payload/module_layout.h"
#include "orb/payload/payload_types.h"
#include "orb/result_code.h"

namespace fs = std::filesystem;

namespace {

void writeSeed(const fs::path& folder, const std::string& name, const std::vector<std::uint8_t>& bytes)
{
    fs::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + (folder / name).string());
}

void writeSeed(const fs::path& folder, const std::string& name, const std::string& text)
{
    writeSeed(folder, name, std::vector<std::uint8_t>(text.begin(), text.end()));
}

// A decode seed, with its outcome.
void imageSeed(const fs::path& folder, const std::string& name, const cv::Mat& image, bool enhance,
               std::int32_t codeType, std::int32_t layout, int scale)
{
    const std::vector<std::uint8_t> bytes = fuzz::bytesFromImage(image, enhance, codeType, layout, scale);
    writeSeed(folder, name, bytes);
    const fuzz::ImageInput input = fuzz::imageFromBytes(bytes.data(), bytes.size());
    orb::DecoderConfiguration config;
    config.codeType = input.codeType;
    config.layout = input.layout;
    std::string outcome;
    try {
        outcome = "reads \"" + orb::decode(config, input.image, input.enhance) + "\"";
    } catch (const orb::OCException& e) {
        outcome = std::string("fails: ") + orb::resultText(e.code);
    }
    std::cout << name << ": " << bytes.size() << " bytes, " << input.image.cols << "x" << input.image.rows << ", "
              << outcome << "\n";
}

cv::Mat halfSize(const cv::Mat& image)
{
    cv::Mat half;
    cv::resize(image, half, cv::Size(image.cols / 2, image.rows / 2), 0, 0, cv::INTER_AREA);
    return half;
}

cv::Mat gray(const cv::Mat& image)
{
    cv::Mat out;
    cv::cvtColor(image, out, cv::COLOR_BGR2GRAY);
    return out;
}

void decodeSeeds(const fs::path& examples, const fs::path& folder)
{
    // The examples at half size, enlarged back by the input's factor.
    const cv::Mat sample = cv::imread((examples / "sample.png").string(), cv::IMREAD_COLOR);
    const cv::Mat digits = cv::imread((examples / "digits-16.png").string(), cv::IMREAD_COLOR);
    const cv::Mat colour = cv::imread((examples / "colour-48.png").string(), cv::IMREAD_COLOR);
    const cv::Mat scrambled = cv::imread((examples / "scrambled-64.png").string(), cv::IMREAD_COLOR);
    if (sample.empty() || digits.empty() || colour.empty() || scrambled.empty())
        throw std::runtime_error("the examples cannot be read from " + examples.string());
    imageSeed(folder, "sample", gray(halfSize(sample)), false, orb::BlackAndWhite, orb::HorizontalSnakeSmall, 2);
    imageSeed(folder, "digits-16", gray(halfSize(digits)), true, orb::BlackAndWhite, orb::HorizontalSnakeSmall, 2);
    imageSeed(folder, "colour-48", halfSize(colour), false, orb::Color, orb::HorizontalSnakeSmall, 2);
    imageSeed(folder, "scrambled-64", gray(halfSize(scrambled)), false, orb::BlackAndWhite, orb::Scrambled, 2);

    // Small drawn codes: a four-channel one at half size, a mirrored one, one
    // off centre on a wider canvas.
    orb::TextCodeOptions options;
    orb::DrawOptions drawing;
    drawing.pitch = 8;
    cv::Mat bgra;
    cv::cvtColor(halfSize(orb::drawText("ScanBench", options, drawing).image), bgra, cv::COLOR_BGR2BGRA);
    imageSeed(folder, "drawn-bgra", bgra, true, orb::BlackAndWhite, orb::HorizontalSnakeSmall, 2);

    drawing.pitch = 6;
    cv::Mat mirrored;
    cv::flip(gray(orb::drawText("mirror", options, drawing).image), mirrored, 1);
    imageSeed(folder, "drawn-mirrored", mirrored, false, orb::BlackAndWhite, orb::HorizontalSnakeSmall, 1);

    // Small plain images: starting points for edge cases of the early
    // stages (a white image, one black pixel) that the codes above hide.
    imageSeed(folder, "white-64", cv::Mat(64, 64, CV_8UC1, cv::Scalar(255)), false, orb::BlackAndWhite,
              orb::HorizontalSnakeSmall, 1);
    cv::Mat dot(48, 64, CV_8UC3, cv::Scalar::all(255));
    dot.at<cv::Vec3b>(24, 32) = cv::Vec3b(0, 0, 0);
    imageSeed(folder, "dot-48x64", dot, false, orb::BlackAndWhite, orb::HorizontalSnakeSmall, 1);

    drawing.canvas = cv::Size(200, 150);
    drawing.centreOffset = cv::Point2d(17, -9);
    drawing.startAngle = 2.5;
    imageSeed(folder, "drawn-canvas", gray(orb::drawText("12345", options, drawing).image), false,
              orb::BlackAndWhite, orb::HorizontalSnakeSmall, 1);
}

struct WrittenCode {
    std::string name;
    std::string text;
    orb::TextCodeOptions options;
    std::int32_t codeType;
};

void payloadAndWriterSeeds(const fs::path& payloadFolder, const fs::path& writerFolder)
{
    auto options = [](int modules, std::uint8_t dataType, std::uint8_t ecc, std::int32_t layout, int mask) {
        orb::TextCodeOptions o;
        o.modulesPerRing = modules;
        o.dataType = dataType;
        o.eccType = ecc;
        o.layout = layout;
        o.mask = mask;
        return o;
    };
    const std::vector<WrittenCode> codes = {
        {"digits", "20261208", options(16, orb::Automatic, orb::High, orb::HorizontalSnakeSmall, 0), orb::BlackAndWhite},
        {"letters", "Hello ScanBench", options(32, orb::Letters, orb::Medium, orb::Vertical, 1), orb::BlackAndWhite},
        {"numbers", "12.5-7/3:0_1", options(32, orb::Numbers, orb::Low, orb::HorizontalSnakeLarge, 2),
         orb::BlackAndWhite},
        {"ascii", "https://example.org/orbel?ring=64", options(64, orb::Ascii, orb::Quartile, orb::Scrambled, 3),
         orb::BlackAndWhite},
        {"binary", std::string("\x00\x01\xfe\xff binary", 11), options(48, orb::Binary, orb::Medium, orb::Horizontal, 4),
         orb::Color},
        {"big-letters", "SCANBENCH", options(48, orb::BigLetters, orb::High, orb::VerticalSnake, 0), orb::Color},
        {"latin1", "caf\xe9 cr\xe8me", options(32, orb::Latin1, orb::Medium, orb::HorizontalSnakeSmall, 2),
         orb::Color},
    };
    for (const WrittenCode& code : codes) {
        const orb::TextCode written = orb::writeTextCode(code.text, code.options, code.codeType);
        const bool colour = code.codeType == orb::Color;
        const int columns = orb::dataModulesPerRing(written.modulesPerRing);

        // Physical grid, as the grid reader samples it.
        std::vector<std::uint8_t> physical = {
            static_cast<std::uint8_t>((colour ? 1 : 0) | 2), static_cast<std::uint8_t>(code.options.mask),
            static_cast<std::uint8_t>(code.options.layout), static_cast<std::uint8_t>(written.ringCount - 1)};
        physical.insert(physical.end(), written.modules.begin(), written.modules.end());
        writeSeed(payloadFolder, code.name + "-grid", physical);

        // The logical stream that reaches the payload decoder.
        std::vector<std::uint8_t> logical = written.modules;
        if (!orb::applyMaskAndLayout(logical, code.options.mask, code.options.layout, written.ringCount, columns))
            throw std::runtime_error("seed " + code.name + " does not unmask");
        logical.insert(logical.begin(), static_cast<std::uint8_t>(colour ? 1 : 0));
        writeSeed(payloadFolder, code.name + "-stream", logical);

        // The writer's options and text; modules-per-ring index from the count.
        const std::uint8_t moduleIndex = static_cast<std::uint8_t>(code.options.modulesPerRing / 16 - 1);
        std::vector<std::uint8_t> writer = {static_cast<std::uint8_t>((colour ? 1 : 0) | 2),
                                            moduleIndex,
                                            0,
                                            code.options.dataType,
                                            code.options.eccType,
                                            static_cast<std::uint8_t>(code.options.layout),
                                            static_cast<std::uint8_t>(code.options.mask),
                                            2};
        writer.insert(writer.end(), code.text.begin(), code.text.end());
        writeSeed(writerFolder, code.name, writer);
    }
    // Any grid: 5 rings of 7 columns, and a fixed ring count.
    std::vector<std::uint8_t> grid = {4, 4, 6, orb::Automatic, orb::Low, orb::VerticalSnake, 1, 0};
    const std::string gridText = "odd grid";
    grid.insert(grid.end(), gridText.begin(), gridText.end());
    writeSeed(writerFolder, "any-grid", grid);
    std::vector<std::uint8_t> fixedRings = {0, 1, 128 + 9, orb::Automatic, orb::Medium, orb::HorizontalSnakeSmall, 0, 0};
    const std::string fixedText = "ten rings";
    fixedRings.insert(fixedRings.end(), fixedText.begin(), fixedText.end());
    writeSeed(writerFolder, "ten-rings", fixedRings);
}

void settingsSeeds(const fs::path& folder)
{
    // As the program writes the file, and the shapes the settings tests use.
    writeSeed(folder, "saved", "{\n"
                               "    \"logLevel\": \"Info\",\n"
                               "    \"logLevelConsole\": \"Warning\",\n"
                               "    \"logFileName\": \"log.txt\",\n"
                               "    \"codeType\": \"Color\",\n"
                               "    \"device\": 1,\n"
                               "    \"mode\": -1,\n"
                               "    \"width\": 1280,\n"
                               "    \"height\": 720,\n"
                               "    \"backend\": 200,\n"
                               "    \"launch\": \"\\\"v4l2src device=/dev/video0 ! videoconvert ! appsink\\\"\"\n"
                               "}\n");
    writeSeed(folder, "unknown-member", "{ \"device\": 2, \"unknown\": \"ignored\" }");
    writeSeed(folder, "bad-names", "{ \"logLevel\": \"Undefined\", \"logLevelConsole\": \"warning\", \"codeType\": "
                                   "\"colour\" }");
    writeSeed(folder, "truncated", "{ \"device\": 2, ");
    writeSeed(folder, "wrong-kind", "{ \"logFileName\": \"a.txt\", \"codeType\": \"Color\", \"device\": \"two\", "
                                    "\"mode\": 5 }");
    writeSeed(folder, "nested", "{ \"launch\": [1, 2.5, {\"a\": null}], \"width\": 99999999999999, \"height\": -1e3 }");
    writeSeed(folder, "yaml", "%YAML:1.0\n---\ndevice: 3\nlaunch: \"x\"\n");
    writeSeed(folder, "xml", "<?xml version=\"1.0\"?>\n<opencv_storage>\n<device>4</device>\n</opencv_storage>\n");
    // Nesting far beyond what is read; kept within libFuzzer's default input length.
    const std::string deep = std::string(2000, '[') + std::string(2000, ']');
    writeSeed(folder, "deep-nesting", deep);
    writeSeed(folder, "launch-deep-nesting", "{ \"launch\": " + deep.substr(40, 3920) + " }");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: make_seeds EXAMPLES_FOLDER CORPUS_FOLDER\n";
        return 2;
    }
    fuzz::quietLibrary();
    const fs::path examples = argv[1];
    const fs::path corpus = argv[2];
    try {
        decodeSeeds(examples, corpus / "decode");
        payloadAndWriterSeeds(corpus / "payload", corpus / "text_code");
        settingsSeeds(corpus / "settings");
    } catch (const std::exception& e) {
        std::cerr << "make_seeds: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

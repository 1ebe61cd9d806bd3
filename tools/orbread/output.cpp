#include "output.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <sstream>

#include <unistd.h>

#include <nlohmann/json.hpp>


namespace orbread {

namespace {

const char* codeTypeName(orb::CodeType type) { return type == orb::CodeType::Color ? "color" : "bw"; }

// Two decimals: pixel positions and milliseconds need no more.
double rounded(double value) { return std::round(value * 100.0) / 100.0; }
// Video time stamps to the millisecond.
double roundedSeconds(double value) { return std::round(value * 1000.0) / 1000.0; }

std::string csvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string number(double value)
{
    std::ostringstream out;
    out << rounded(value);
    return out.str();
}

std::string seconds(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", roundedSeconds(value));
    return text;
}

} // namespace

std::string hex(const std::vector<std::uint8_t>& bytes)
{
    static const char* const digits = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string Formatter::header() const
{
    if (format_ != Format::Csv) return {};
    return std::string("file,") + (video_ ? "frame,seconds," : "") +
           "index,text,bytes_hex,data_type,ecc_type,layout,code_type,modules_per_ring,rings,mirrored,"
           "centre_x,centre_y,time_ms,error\n";
}

std::string Formatter::lines(const std::string& name, const ImageReport& report,
                             const std::optional<FrameStamp>& frame) const
{
    if (report.outcome == Outcome::Note) return {};
    std::string out;
    if (format_ == Format::Text) {
        for (const orb::ReadResult& code : report.codes) {
            // A newline in a name would split the line; an escape sequence would reach the terminal.
            out += escaped(name);
            if (frame) out += " frame " + std::to_string(frame->frame) + " (" + seconds(frame->seconds) + " s)";
            out += ": " + escaped(code.text()) + "\n";
        }
        return out;
    }
    if (format_ == Format::Json) {
        using json = nlohmann::ordered_json;
        auto base = [&] {
            json line;
            line["file"] = name;
            if (frame && frame->frame >= 0) {
                line["frame"] = frame->frame;
                line["seconds"] = roundedSeconds(frame->seconds);
            } else if (frame) {
                line["frame"] = nullptr;
                line["seconds"] = nullptr;
            }
            if (report.candidateLimitReached) line["candidate_limit_reached"] = true;
            return line;
        };
        // The steps of the input's reads, on each of its lines when asked for.
        json trace = json::array();
        for (const orb::TraceStep& step : report.trace) {
            json entry;
            entry["stage"] = step.stage;
            entry["image"] = step.image;
            entry["size"] = {step.size.width, step.size.height};
            entry["code_type"] = step.codeType ? json(codeTypeName(*step.codeType)) : json(nullptr);
            entry["view"] = step.view;
            entry["mirrored"] = step.mirrored;
            entry["result"] = orb::errorText(step.result);
            if (step.stage == "finder search") entry["places"] = step.places;
            entry["time_ms"] = rounded(step.milliseconds);
            trace.push_back(std::move(entry));
        }
        auto dump = [&](json& line) {
            if (!report.trace.empty()) line["trace"] = trace;
            return line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
        };
        if (report.codes.empty()) {
            json line = base();
            line["index"] = nullptr;
            if (!frame) line["time_ms"] = rounded(report.milliseconds);
            line["error"] = report.error;
            return dump(line);
        }
        for (std::size_t i = 0; i < report.codes.size(); ++i) {
            const orb::ReadResult& code = report.codes[i];
            json line = base();
            line["index"] = frame ? frame->index : i;
            const std::string text = code.text();
            if (isUtf8(text)) {
                line["text"] = text;
            } else {
                line["text"] = nullptr;
                line["bytes"] = hex(code.bytes);
            }
            line["data_type"] = orb::dataTypeName(code.dataType);
            line["ecc_type"] = orb::eccTypeName(code.eccType);
            line["layout"] = orb::layoutName(code.layout);
            line["code_type"] = codeTypeName(code.codeType);
            line["modules_per_ring"] = code.modulesPerRing;
            line["rings"] = code.ringCount;
            line["mirrored"] = code.mirrored;
            line["errors_corrected"] = code.correctedErrors;
            line["erasures"] = code.erasures;
            line["centre"] = {rounded(code.position.centre.x), rounded(code.position.centre.y)};
            json outline = json::array();
            for (const cv::Point2f& p : code.position.outline) outline.push_back({rounded(p.x), rounded(p.y)});
            line["outline"] = outline;
            // A frame's reading time is not measured one by one.
            if (!frame) line["time_ms"] = rounded(report.milliseconds);
            out += dump(line);
        }
        return out;
    }
    // CSV
    std::string prefix = csvField(name) + ",";
    if (frame && frame->frame >= 0) prefix += std::to_string(frame->frame) + "," + seconds(frame->seconds) + ",";
    else if (frame) prefix += ",,";
    const std::string time = frame ? std::string() : number(report.milliseconds);
    if (report.codes.empty()) return prefix + ",,,,,,,,,,,," + time + "," + csvField(report.error) + "\n";
    for (std::size_t i = 0; i < report.codes.size(); ++i) {
        const orb::ReadResult& code = report.codes[i];
        const std::string text = code.text();
        const bool utf8 = isUtf8(text);
        out += prefix + std::to_string(frame ? frame->index : i) + "," + (utf8 ? csvField(text) : "") + "," + (utf8 ? "" : hex(code.bytes)) +
               "," + orb::dataTypeName(code.dataType) + "," + orb::eccTypeName(code.eccType) + "," +
               orb::layoutName(code.layout) + "," + codeTypeName(code.codeType) + "," +
               std::to_string(code.modulesPerRing) + "," + std::to_string(code.ringCount) + "," +
               (code.mirrored ? "true" : "false") + "," + number(code.position.centre.x) + "," +
               number(code.position.centre.y) + "," + time + ",\n";
    }
    return out;
}

bool writeOut(const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace orbread

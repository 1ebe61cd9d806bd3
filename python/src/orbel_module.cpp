// The Python module's C++ side: every C++ type of the library that Python
// sees is translated here, so a change of the library's types is an edit of
// this one file. The reads and writes run without the interpreter lock.
#include <cctype>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "orb/drawing/svg_writer.h"
#include "orb/found_codes.h"
#include "orb/drawing/text_code.h"
#include "orb/drawing/write_checks.h"
#include "orb/image_file.h"
#include "orb/payload/code_writer.h"
#include "orb/payload/module_layout.h"
#include "orb/payload/payload_types.h"
#include "orb/reader.h"
#include "orb/result_code.h"

namespace py = pybind11;

namespace {

using Point = std::pair<float, float>;
// OpenCV's RotatedRect as Python code that uses cv2 knows it.
using Ellipse = std::tuple<Point, Point, float>;

bool isUtf8(const std::vector<std::uint8_t>& bytes)
{
    const std::string text(bytes.begin(), bytes.end());
    PyObject* decoded = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
    if (!decoded) {
        PyErr_Clear();
        return false;
    }
    Py_DECREF(decoded);
    return true;
}

const char* codeTypeName(orb::CodeType type) { return type == orb::CodeType::Color ? "color" : "bw"; }

// Where a read code or a failed place lies.
struct Place {
    Point centre;
    std::vector<cv::Point2f> outline;
    Ellipse ellipse;
};

Place placeOf(const orb::CodePosition& position)
{
    const cv::RotatedRect& r = position.outerRing;
    return {{position.centre.x, position.centre.y},
            position.outline,
            {{r.center.x, r.center.y}, {r.size.width, r.size.height}, r.angle}};
}

py::array_t<float> outlineArray(const std::vector<cv::Point2f>& outline)
{
    py::array_t<float> points({static_cast<py::ssize_t>(outline.size()), py::ssize_t{2}});
    auto view = points.mutable_unchecked<2>();
    for (std::size_t i = 0; i < outline.size(); ++i) {
        view(static_cast<py::ssize_t>(i), 0) = outline[i].x;
        view(static_cast<py::ssize_t>(i), 1) = outline[i].y;
    }
    return points;
}

struct Code {
    std::vector<std::uint8_t> bytes;
    std::string dataType, eccType, layout, codeType;
    int modulesPerRing = 0;
    int rings = 0;
    bool mirrored = false;
    int errorsCorrected = 0;
    int erasures = 0;
    Place place;
};

Code codeOf(const orb::ReadResult& r)
{
    return {r.bytes,
            orb::dataTypeName(r.dataType),
            orb::eccTypeName(r.eccType),
            orb::layoutName(r.layout),
            codeTypeName(r.codeType),
            r.modulesPerRing,
            r.ringCount,
            r.mirrored,
            r.correctedErrors,
            r.erasures,
            placeOf(r.position)};
}

// A place the search found that did not read.
struct FailedPlace {
    std::string error;
    Place place;
};

struct Search {
    std::vector<Code> codes;
    std::vector<FailedPlace> failed;
    std::optional<std::string> error; // why nothing was read, when nothing was
};

std::string lowered(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The index of `value` among `count` names, compared without case, as
// orbwrite compares them; a ValueError that lists them otherwise.
template <class NameOf>
int nameIndex(const char* option, const std::string& value, int count, NameOf nameOf)
{
    std::string names;
    for (int i = 0; i < count; ++i) {
        if (lowered(value) == lowered(nameOf(i))) return i;
        names += std::string(i ? ", " : "") + nameOf(i);
    }
    throw py::value_error(std::string(option) + " must be one of " + names + ", not '" + value + "'");
}

orb::ReaderOptions readerOptions(const std::string& codeTypes, const std::optional<std::string>& layout,
                                 bool tryMirrored, bool enhance, int maxWorkingWidth, bool findCodes,
                                 bool readWholeImage, int maxCandidates)
{
    static const char* const typeNames[] = {"both", "bw", "color"};
    using orb::CodeType;
    static const std::vector<CodeType> types[] = {
        {CodeType::BlackAndWhite, CodeType::Color}, {CodeType::BlackAndWhite}, {CodeType::Color}};
    orb::ReaderOptions options;
    options.codeTypes = types[nameIndex("code_types", codeTypes, 3, [](int i) { return typeNames[i]; })];
    if (layout)
        options.layout = static_cast<orb::Layout>(nameIndex("layout", *layout, 6, [](int i) { return orb::layoutName(i); }));
    options.tryMirrored = tryMirrored;
    options.enhance = enhance;
    options.maxWorkingWidth = maxWorkingWidth;
    options.findCodes = findCodes;
    (void)readWholeImage; // passed to each read: not an option of the public reader
    options.maxCandidates = maxCandidates;
    return options;
}

// The options of every read, with ReaderOptions' defaults.
template <class... Extra>
auto readerArgs(Extra... extra)
{
    const orb::ReaderOptions d;
    return std::make_tuple(extra..., py::kw_only(), py::arg("code_types") = "both",
                           py::arg("layout") = py::none(), py::arg("try_mirrored") = d.tryMirrored,
                           py::arg("enhance") = d.enhance, py::arg("max_working_width") = d.maxWorkingWidth,
                           py::arg("find_codes") = d.findCodes, py::arg("read_whole_image") = true,
                           py::arg("max_candidates") = d.maxCandidates);
}

// A view of an 8-bit image array as the reader takes it. The Python side
// has already turned PIL images into arrays and made them contiguous.
cv::Mat imageOf(const py::array& array)
{
    if (!py::isinstance<py::array_t<std::uint8_t>>(array) || array.dtype().kind() != 'u')
        throw py::type_error("image must be an array of uint8, not " + std::string(py::str(array.dtype())));
    const std::string shape = py::str(py::tuple(py::cast(std::vector<py::ssize_t>(
        array.shape(), array.shape() + array.ndim()))));
    const bool grey = array.ndim() == 2;
    const py::ssize_t channels = grey ? 1 : array.ndim() == 3 ? array.shape(2) : 0;
    if (channels != 1 && channels != 3 && channels != 4)
        throw py::value_error("image must be height x width (grey) or height x width x 1, 3 or 4 channels, "
                              "not shape " + shape);
    if (array.shape(0) == 0 || array.shape(1) == 0) throw py::value_error("image is empty: shape " + shape);
    if (!(array.flags() & py::array::c_style)) throw py::value_error("image must be C-contiguous");
    return cv::Mat(static_cast<int>(array.shape(0)), static_cast<int>(array.shape(1)),
                   CV_8UC(static_cast<int>(channels)), const_cast<void*>(array.data()));
}

// Runs a read without the interpreter lock. The library's refusal of an
// image it cannot take becomes a ValueError.
template <class Read>
auto unlocked(Read read)
{
    try {
        py::gil_scoped_release release;
        return read();
    } catch (const orb::OCException& e) {
        throw py::value_error(e.what());
    }
}

std::vector<Code> codesOf(const std::vector<orb::ReadResult>& results)
{
    std::vector<Code> codes;
    for (const orb::ReadResult& r : results) codes.push_back(codeOf(r));
    return codes;
}

std::vector<Code> readCodes(const py::array& image, const std::string& codeTypes,
                            const std::optional<std::string>& layout, bool tryMirrored, bool enhance,
                            int maxWorkingWidth, bool findCodes, bool readWholeImage, int maxCandidates)
{
    const orb::ReaderOptions options = readerOptions(codeTypes, layout, tryMirrored, enhance, maxWorkingWidth,
                                                     findCodes, readWholeImage, maxCandidates);
    const cv::Mat mat = imageOf(image);
    return codesOf(unlocked([&] { return orb::readCodes(mat, options, readWholeImage); }));
}

std::optional<Code> readCode(const py::array& image, const std::string& codeTypes,
                             const std::optional<std::string>& layout, bool tryMirrored, bool enhance,
                             int maxWorkingWidth, bool findCodes, bool readWholeImage, int maxCandidates)
{
    const orb::ReaderOptions options = readerOptions(codeTypes, layout, tryMirrored, enhance, maxWorkingWidth,
                                                     findCodes, readWholeImage, maxCandidates);
    const cv::Mat mat = imageOf(image);
    const orb::ReadResult result = unlocked([&] { return orb::readCode(mat, options, readWholeImage); });
    if (!result) return std::nullopt;
    return codeOf(result);
}

Search searchOf(const orb::CodeSearch& search)
{
    Search out{codesOf(search.codes), {}, std::nullopt};
    for (const orb::ReadResult& r : search.failed) out.failed.push_back({r.errorText(), placeOf(r.position)});
    if (search.codes.empty()) out.error = orb::errorText(search.error);
    return out;
}

Search searchCodes(const py::array& image, std::optional<std::size_t> maxCodes, const std::string& codeTypes,
                   const std::optional<std::string>& layout, bool tryMirrored, bool enhance, int maxWorkingWidth,
                   bool findCodes, bool readWholeImage, int maxCandidates)
{
    const orb::ReaderOptions options = readerOptions(codeTypes, layout, tryMirrored, enhance, maxWorkingWidth,
                                                     findCodes, readWholeImage, maxCandidates);
    const cv::Mat mat = imageOf(image);
    const orb::CodeSearch search = unlocked(
        [&] { return orb::searchCodes(mat, options, maxCodes.value_or(static_cast<std::size_t>(-1)), readWholeImage); });
    Search out{codesOf(search.codes), {}, std::nullopt};
    for (const orb::ReadResult& r : search.failed) out.failed.push_back({r.errorText(), placeOf(r.position)});
    if (search.codes.empty()) out.error = orb::errorText(search.error);
    return out;
}

// Loads `path` as orbread does and runs `read` on it, without the lock; a
// file that does not load raises what orbread would report for it.
template <class Read>
auto onFile(const std::string& path, Read read)
{
    struct Outcome {
        orb::ImageLoad load;
        decltype(read(cv::Mat())) found;
    };
    Outcome outcome = unlocked([&] {
        Outcome o{orb::loadImage(path), {}};
        if (o.load.status == orb::ImageLoad::Status::Loaded) o.found = read(o.load.image);
        return o;
    });
    const orb::ImageLoad& load = outcome.load;
    if (load.status == orb::ImageLoad::Status::TooLarge) throw py::value_error("image too large: " + load.reason);
    if (load.status == orb::ImageLoad::Status::Unreadable) {
        const std::string reason = "cannot read: " + load.reason;
        PyErr_SetString(load.reason == "no such file" ? PyExc_FileNotFoundError : PyExc_OSError, reason.c_str());
        throw py::error_already_set();
    }
    return std::move(outcome.found);
}

std::vector<Code> readFile(const std::string& path, const std::string& codeTypes,
                           const std::optional<std::string>& layout, bool tryMirrored, bool enhance,
                           int maxWorkingWidth, bool findCodes, bool readWholeImage, int maxCandidates)
{
    const orb::ReaderOptions options = readerOptions(codeTypes, layout, tryMirrored, enhance, maxWorkingWidth,
                                                     findCodes, readWholeImage, maxCandidates);
    return codesOf(onFile(path, [&](const cv::Mat& image) { return orb::readCodes(image, options, readWholeImage); }));
}

Search searchFile(const std::string& path, std::optional<std::size_t> maxCodes, const std::string& codeTypes,
                  const std::optional<std::string>& layout, bool tryMirrored, bool enhance, int maxWorkingWidth,
                  bool findCodes, bool readWholeImage, int maxCandidates)
{
    const orb::ReaderOptions options = readerOptions(codeTypes, layout, tryMirrored, enhance, maxWorkingWidth,
                                                     findCodes, readWholeImage, maxCandidates);
    const std::size_t most = maxCodes.value_or(static_cast<std::size_t>(-1));
    return searchOf(onFile(path, [&](const cv::Mat& image) { return orb::searchCodes(image, options, most, readWholeImage); }));
}

// The writer's options, checked as orbwrite checks them.
struct WriteRequest {
    std::string text;
    orb::TextCodeOptions code;
    orb::DrawOptions drawing;
};

WriteRequest writeRequest(const py::object& text, int modules, std::optional<int> rings, const std::string& ecc,
                          const std::string& dataType, const std::string& layout, int mask, bool color,
                          double pitch)
{
    WriteRequest r;
    if (py::isinstance<py::str>(text)) r.text = text.cast<std::string>();
    else if (py::isinstance<py::bytes>(text)) r.text = text.cast<std::string>();
    else throw py::type_error("text must be str or bytes, not " + std::string(py::str(py::type::of(text).attr("__name__"))));
    if (!orb::isValidModuleCount(modules))
        throw py::value_error("modules must be 16, 32, 48 or 64, not " + std::to_string(modules));
    const int mostRings = orb::mostReadableRings(orb::ReaderOptions{}.maxWorkingWidth);
    if (rings && (*rings < orb::kFewestWrittenRings || *rings > mostRings))
        throw py::value_error("rings must be " + std::to_string(orb::kFewestWrittenRings) + " to " +
                              std::to_string(mostRings) + " (larger codes do not read back), not " +
                              std::to_string(*rings));
    if (mask < 0 || mask > 4) throw py::value_error("mask must be 0 to 4, not " + std::to_string(mask));
    if (!(pitch >= orb::kSmallestPitch && pitch <= orb::kLargestPitch))
        throw py::value_error("pitch must be 5 to 400 pixels, not " + std::string(py::str(py::float_(pitch))));
    r.code.modulesPerRing = modules;
    r.code.ringCount = rings.value_or(0);
    r.code.eccType = static_cast<std::uint8_t>(nameIndex("ecc", ecc, 4, [](int i) { return orb::eccTypeName(i); }));
    r.code.dataType =
        static_cast<std::uint8_t>(nameIndex("data_type", dataType, 8, [](int i) { return orb::dataTypeName(i); }));
    r.code.layout = nameIndex("layout", layout, 6, [](int i) { return orb::layoutName(i); });
    r.code.mask = mask;
    r.drawing.pitch = pitch;
    // Centred in its image, as orbwrite draws it: the middle of an even
    // canvas is a pixel corner, half a pixel before the canvas centre.
    r.drawing.centreOffset = {-0.5, -0.5};
    r.drawing.codeType = color ? orb::Color : orb::BlackAndWhite;
    return r;
}

// Writes and draws without the interpreter lock; a refused text is a
// ValueError that says why, as orbwrite says it.
orb::DrawnCode drawn(const WriteRequest& r)
{
    try {
        py::gil_scoped_release release;
        orb::TextCode modules;
        try {
            modules = orb::writeTextCode(r.text, r.code, r.drawing.codeType);
        } catch (const orb::OCException& e) {
            throw std::invalid_argument(orb::writeRefusal(e, r.code, r.drawing.codeType, "rings"));
        }
        if (const int most = orb::mostReadableRings(orb::ReaderOptions{}.maxWorkingWidth); modules.ringCount > most)
            throw std::invalid_argument("text too long for a code that reads back: it needs " +
                                        std::to_string(modules.ringCount) + " rings of " +
                                        std::to_string(modules.modulesPerRing) + " modules, and codes of more than " +
                                        std::to_string(most) + " rings do not read (use more modules)");
        orb::DrawnCode code = orb::drawCode(modules.modules, modules.modulesPerRing, modules.ringCount, r.drawing);
        // As orbwrite does: a code is handed out only once it reads back.
        if (const std::string problem = orb::readBackProblem(orb::readCode(code.image), r.text); !problem.empty())
            throw std::invalid_argument("the code does not read back (" + problem +
                                        "); another mask, pitch or modules may read");
        return code;
    } catch (const std::invalid_argument& e) {
        throw py::value_error(e.what());
    } catch (const orb::OCException& e) {
        throw py::value_error(std::string("cannot draw the code: ") + e.what());
    }
}

py::array writeCode(const py::object& text, int modules, std::optional<int> rings, const std::string& ecc,
                    const std::string& dataType, const std::string& layout, int mask, bool color, double pitch)
{
    const orb::DrawnCode code = drawn(writeRequest(text, modules, rings, ecc, dataType, layout, mask, color, pitch));
    const cv::Mat& image = code.image;
    py::array_t<std::uint8_t> out({image.rows, image.cols, image.channels()});
    for (int y = 0; y < image.rows; ++y)
        std::memcpy(out.mutable_data(y), image.ptr(y), image.cols * image.elemSize());
    return out;
}

std::string writeSvg(const py::object& text, int modules, std::optional<int> rings, const std::string& ecc,
                     const std::string& dataType, const std::string& layout, int mask, bool color, double pitch)
{
    const WriteRequest request = writeRequest(text, modules, rings, ecc, dataType, layout, mask, color, pitch);
    const orb::DrawnCode code = drawn(request);
    py::gil_scoped_release release;
    return orb::codeSvg(code.plan);
}

auto writerArgs()
{
    const orb::TextCodeOptions d;
    return std::make_tuple(py::arg("text"), py::kw_only(), py::arg("modules") = d.modulesPerRing,
                           py::arg("rings") = py::none(), py::arg("ecc") = orb::eccTypeName(d.eccType),
                           py::arg("data_type") = orb::dataTypeName(d.dataType),
                           py::arg("layout") = orb::layoutName(d.layout), py::arg("mask") = d.mask,
                           py::arg("color") = false, py::arg("pitch") = orb::kDefaultWritePitch);
}

template <class F, class Args>
void define(py::module_& m, const char* name, F f, const char* doc, const Args& args)
{
    std::apply([&](const auto&... a) { m.def(name, f, doc, a...); }, args);
}

template <class T>
void placeProperties(py::class_<T>& c)
{
    c.def_property_readonly("centre", [](const T& t) { return t.place.centre; }, "Centre (x, y), in pixels.")
        .def_property_readonly("outline", [](const T& t) { return outlineArray(t.place.outline); },
                               "Outer edge as an N x 2 float32 array of (x, y).")
        .def_property_readonly("ellipse", [](const T& t) { return t.place.ellipse; },
                               "Ellipse ((cx, cy), (width, height), angle in degrees), as OpenCV's RotatedRect.");
}

} // namespace

PYBIND11_MODULE(_orbel, m)
{
    m.doc() = "Reads and writes Orbel codes: the C++ side of the orbel package.";
    m.attr("__version__") = ORB_VERSION;
    m.attr("MAX_IMAGE_PIXELS") = orb::kMaxImagePixels;

    py::class_<Code> code(m, "Code", "One code read from an image.");
    code.def_property_readonly(
            "text",
            [](const Code& c) -> py::object {
                if (!isUtf8(c.bytes)) return py::none();
                return py::str(reinterpret_cast<const char*>(c.bytes.data()), c.bytes.size());
            },
            "The payload as UTF-8 text, or None when it is not UTF-8 (then see bytes).")
        .def_property_readonly(
            "bytes",
            [](const Code& c) { return py::bytes(reinterpret_cast<const char*>(c.bytes.data()), c.bytes.size()); },
            "The payload as it was stored.")
        .def_readonly("data_type", &Code::dataType, "Data type, e.g. 'Ascii', 'Digits', 'Latin1'.")
        .def_readonly("ecc_type", &Code::eccType, "Error correction: 'Low', 'Medium', 'Quartile' or 'High'.")
        .def_readonly("layout", &Code::layout, "Module layout, e.g. 'HorizontalSnakeSmall'.")
        .def_readonly("code_type", &Code::codeType, "'bw' (black and white) or 'color'.")
        .def_readonly("modules_per_ring", &Code::modulesPerRing, "Modules per ring: 16, 32, 48 or 64.")
        .def_readonly("rings", &Code::rings, "Number of data rings.")
        .def_readonly("mirrored", &Code::mirrored, "True when read from the mirror image of the one given.")
        .def_readonly("errors_corrected", &Code::errorsCorrected, "Codeword bytes the error correction changed.")
        .def_readonly("erasures", &Code::erasures, "Of those, how many were marked unsure before correcting.");
    placeProperties(code);
    code.def("__repr__", [](py::object self) {
        const Code& c = self.cast<const Code&>();
        const py::object text = self.attr("text");
        return "Code(" + (text.is_none() ? "bytes=" + std::string(py::repr(self.attr("bytes")))
                                         : "text=" + std::string(py::repr(text))) +
               ", data_type='" + c.dataType + "', ecc_type='" + c.eccType + "', layout='" + c.layout +
               "', code_type='" + c.codeType + "', modules_per_ring=" + std::to_string(c.modulesPerRing) +
               ", rings=" + std::to_string(c.rings) + ", mirrored=" + (c.mirrored ? "True" : "False") +
               ", centre=" + std::string(py::repr(py::cast(c.place.centre))) + ")";
    });

    py::class_<FailedPlace> failed(m, "FailedPlace", "A place the search found that did not read.");
    failed.def_readonly("error", &FailedPlace::error, "Why it did not read, e.g. 'Start marker not detected'.");
    placeProperties(failed);
    failed.def("__repr__", [](const FailedPlace& f) {
        return "FailedPlace(error=" + std::string(py::repr(py::str(f.error))) +
               ", centre=" + std::string(py::repr(py::cast(f.place.centre))) + ")";
    });

    py::class_<Search>(m, "CodeSearch", "What search_codes found.")
        .def_readonly("codes", &Search::codes, "The codes read, as read_codes returns them.")
        .def_readonly("failed", &Search::failed, "The places that did not read.")
        .def_readonly("error", &Search::error, "Why nothing was read, or None when a code was.");

    define(m, "read_codes", &readCodes, "Every code of an image array.", readerArgs(py::arg("image")));
    define(m, "read_code", &readCode, "The code of an image array, or None.", readerArgs(py::arg("image")));
    define(m, "search_codes", &searchCodes, "Codes and failed places of an image array.",
           readerArgs(py::arg("image"), py::arg("max_codes") = py::none()));
    define(m, "read_file", &readFile, "Every code of an image file.", readerArgs(py::arg("path")));
    define(m, "search_file", &searchFile, "Codes and failed places of an image file.",
           readerArgs(py::arg("path"), py::arg("max_codes") = py::none()));
    define(m, "write_code", &writeCode, "A code drawn as a BGR image array.", writerArgs());
    define(m, "write_svg", &writeSvg, "A code as an SVG document.", writerArgs());
}

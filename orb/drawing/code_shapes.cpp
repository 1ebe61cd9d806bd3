#include "orb/drawing/code_shapes.h"

#include <cmath>
#include <string>

#include "orb/result_code.h"

namespace orb {

namespace {

const cv::Scalar kWhite(255, 255, 255);
const cv::Scalar kBlack(0, 0, 0);
// Keeps a runaway pitch or ring count from asking for gigabytes.
constexpr int kLargestCanvasSide = 10000;

[[noreturn]] void refuse(const std::string& why) { throw OCException(CodeCannotBeCreated, why); }

void validate(const CodeGeometry& g, const CodePlacement& p, const std::vector<std::uint8_t>& modules,
              int bitsPerModule)
{
    if (!isValidModuleCount(g.modulesPerRing))
        refuse("modules per ring must be 16, 32, 48 or 64, not " + std::to_string(g.modulesPerRing));
    if (g.ringCount < 2) refuse("a code needs at least 2 rings, not " + std::to_string(g.ringCount));
    if (bitsPerModule != 1 && bitsPerModule != 3)
        refuse("bits per module must be 1 or 3, not " + std::to_string(bitsPerModule));
    if (!(g.hubRadius >= 3.0) || !std::isfinite(g.hubRadius)) refuse("the hub radius must be at least 3 pitches");
    if (!(p.pitch >= 2.0) || !std::isfinite(p.pitch)) refuse("the pitch must be at least 2 pixels");
    if (!std::isfinite(p.startAngle)) refuse("the start angle must be a finite number");
    const std::size_t expected =
        static_cast<std::size_t>(g.ringCount) * static_cast<std::size_t>(dataModulesPerRing(g.modulesPerRing));
    if (modules.size() != expected)
        refuse("expected " + std::to_string(expected) + " module values, got " + std::to_string(modules.size()));
    const int largest = (1 << bitsPerModule) - 1;
    for (std::uint8_t v : modules)
        if (v > largest) refuse("module value " + std::to_string(v) + " is out of range");
    if (p.canvas.width <= 0 || p.canvas.height <= 0 || p.canvas.width > kLargestCanvasSide ||
        p.canvas.height > kLargestCanvasSide)
        refuse("an image of " + std::to_string(p.canvas.width) + "x" + std::to_string(p.canvas.height) +
               " pixels; the drawer makes 1 to " + std::to_string(kLargestCanvasSide) + " on each side");
    // Pixel x covers x - 0.5 .. x + 0.5.
    const double r = g.outerRadius() * p.pitch;
    if (!(p.centre.x - r >= -0.5 && p.centre.y - r >= -0.5 && p.centre.x + r <= p.canvas.width - 0.5 &&
          p.centre.y + r <= p.canvas.height - 0.5))
        refuse("the code does not fit its canvas");
}

class LayerList {
public:
    LayerList(const CodePlacement& placement, int modulesPerRing)
        : placement_(placement), moduleAngle_(kTwoPi / modulesPerRing), modulesPerRing_(modulesPerRing)
    {
    }

    // The black ground under everything else.
    void ground(double radius) { layers.push_back({kBlack, {{0.0, radius * placement_.pitch, 0.0, kTwoPi}}}); }

    void disc(const cv::Scalar& colour, double radius)
    {
        layer(colour).shapes.push_back({0.0, radius * placement_.pitch, 0.0, kTwoPi});
    }

    // Positions first .. last (clockwise, so decreasing angle) between two
    // radii, as one sector.
    void sector(const cv::Scalar& colour, double inner, double outer, int first, int last)
    {
        const double to = moduleAngle(placement_.startAngle, first, modulesPerRing_) + moduleAngle_ / 2;
        const double from = moduleAngle(placement_.startAngle, last, modulesPerRing_) - moduleAngle_ / 2;
        layer(colour).shapes.push_back({inner * placement_.pitch, outer * placement_.pitch, from, to});
    }

    // One layer per light colour, after the ground; light parts never
    // overlap, so their order does not matter.
    CodeLayer& layer(const cv::Scalar& colour)
    {
        for (std::size_t i = 1; i < layers.size(); ++i)
            if (layers[i].colour == colour) return layers[i];
        layers.push_back({colour, {}});
        return layers.back();
    }

    std::vector<CodeLayer> layers;

private:
    CodePlacement placement_;
    double moduleAngle_;
    int modulesPerRing_;
};

} // namespace

cv::Scalar moduleColour(std::uint8_t value)
{
    switch (value) {
    case 0: return kWhite;
    case 1: return kBlack;
    case 2: return {0, 0, 255};
    case 3: return {0, 255, 0};
    case 4: return {255, 0, 0};
    case 5: return {255, 255, 0};
    case 6: return {255, 0, 255};
    case 7: return {0, 255, 255};
    default: return kBlack;
    }
}

CodePlan planCode(const CodeGeometry& g, const CodePlacement& placement, const std::vector<std::uint8_t>& modules,
                  int bitsPerModule)
{
    validate(g, placement, modules, bitsPerModule);
    const int m = g.modulesPerRing;
    const int n = dataModulesPerRing(m);
    LayerList list(placement, m);

    // Everything inside the outer edge starts black; every light part is a
    // sector on top of it. Light sectors never overlap and share their
    // edges exactly, so a renderer that fills a layer as one path draws a
    // light area of many modules without hairlines between them, and every
    // edge of a black-and-white code is one light edge over black.
    list.ground(g.outerRadius());
    for (int position = 1; position < m; position += 2)
        if (!g.outerZebraBlack(position))
            list.sector(kWhite, g.outerZebraInnerRadius(), g.outerRadius(), position, position);

    for (int ring = g.ringCount - 1; ring >= 0; --ring) {
        const std::uint8_t* row = modules.data() + static_cast<std::size_t>(gridRow(ring, g.ringCount)) * n;
        auto valueAt = [&](int position) -> std::uint8_t {
            if (position == CodeGeometry::kBarPosition) return 1;
            if (g.isCorridor(position)) return 0;
            if (position == CodeGeometry::kRadialZebraPosition) return g.radialZebraBlack(ring) ? 1 : 0;
            return row[position - kFirstDataPosition];
        };
        // The bar keeps position 0 black, so no run wraps around.
        for (int first = 0; first < m;) {
            const std::uint8_t value = valueAt(first);
            int last = first;
            while (last + 1 < m && valueAt(last + 1) == value) ++last;
            if (value != 1)
                list.sector(moduleColour(value), g.ringInnerRadius(ring), g.ringOuterRadius(ring), first, last);
            first = last + 1;
        }
    }

    for (int position = 0; position < m; ++position)
        if (g.isNotch(position)) list.sector(kWhite, g.notchInnerRadius(), g.dataInnerRadius(), position, position);
    list.disc(kWhite, g.hubRadius);
    // A layer of its own: on top of the hub it is one dark edge over light.
    list.layers.push_back({kBlack, {{0.0, g.dotRadius() * placement.pitch, 0.0, kTwoPi}}});

    return {g, placement, std::move(list.layers)};
}

} // namespace orb

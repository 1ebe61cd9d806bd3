#include "orb/writer.h"

#include "orb/drawing/code_drawer.h"
#include "orb/drawing/svg_writer.h"
#include "orb/drawing/text_code.h"
#include "orb/result_code.h"

namespace orb {

WrittenCode writeCode(const std::string& text, const WriterOptions& options)
{
    WrittenCode written;
    try {
        TextCodeOptions coding;
        coding.modulesPerRing = options.modulesPerRing;
        coding.ringCount = options.ringCount;
        coding.dataType = static_cast<std::uint8_t>(options.dataType);
        coding.eccType = static_cast<std::uint8_t>(options.eccType);
        coding.layout = static_cast<std::int32_t>(options.layout);
        coding.mask = options.mask;
        DrawOptions drawing;
        drawing.codeType = static_cast<std::int32_t>(options.codeType);
        drawing.pitch = options.pitch;
        drawing.quietZone = options.quietZone;
        if (drawing.codeType != BlackAndWhite && drawing.codeType != Color)
            throw OCException(InvalidConfiguration, "unknown code type");
        const TextCode code = writeTextCode(text, coding, drawing.codeType);
        DrawnCode drawn = drawCode(code.modules, code.modulesPerRing, code.ringCount, drawing);
        written.image = std::move(drawn.image);
        written.svg = codeSvg(drawn.plan);
        written.modulesPerRing = code.modulesPerRing;
        written.ringCount = code.ringCount;
        written.dataType = static_cast<DataType>(code.dataType);
    } catch (const OCException& e) {
        written = {};
        written.error = e.error();
        written.detail = e.what();
    }
    return written;
}

} // namespace orb

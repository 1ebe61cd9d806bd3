#define ZX_USE_UTF8 1
#include "support/qr_twin.h"

#include <algorithm>
#include <set>

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>
#include <ZXing/ReadBarcode.h>
#include <opencv2/imgproc.hpp>

#include "orb/reader.h"

namespace orb::samples {

cv::Mat qrSymbol(const std::string& text, int side)
{
    ZXing::BitMatrix bits;
    try {
        bits = ZXing::MultiFormatWriter(ZXing::BarcodeFormat::QRCode).setMargin(0).encode(text, 0, 0);
    } catch (const std::exception&) {
        return {};
    }
    cv::Mat modules(bits.height(), bits.width(), CV_8U);
    for (int y = 0; y < bits.height(); ++y)
        for (int x = 0; x < bits.width(); ++x) modules.at<std::uint8_t>(y, x) = bits.get(x, y) ? 0 : 255;
    // Drawn large and reduced, so module edges are anti-aliased as our code's are.
    const int fine = std::max(1, 8 * side / modules.cols);
    cv::Mat large, symbol;
    cv::resize(modules, large, cv::Size(modules.cols * fine, modules.rows * fine), 0, 0, cv::INTER_NEAREST);
    cv::resize(large, symbol, cv::Size(side, side), 0, 0, cv::INTER_AREA);
    return symbol;
}

std::vector<std::string> readQrCodes(const cv::Mat& frame)
{
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    const cv::Mat image = frame.isContinuous() ? frame : frame.clone();
    const ZXing::Results results = ZXing::ReadBarcodes(
        {image.data, image.cols, image.rows, ZXing::ImageFormat::BGR, static_cast<int>(image.step)}, hints);
    std::vector<std::string> texts;
    for (const ZXing::Result& result : results)
        if (result.isValid()) texts.push_back(result.text());
    return texts;
}

TwinReads readTwinScene(const TwinScene& scene)
{
    TwinReads reads;
    std::multiset<std::string> placed;
    for (const PlacedCode& code : scene.scene.codes) placed.insert(code.text);
    reads.codes = static_cast<int>(placed.size());

    std::multiset<std::string> unread = placed;
    for (const ReadResult& result : readCodes(scene.scene.image)) {
        const auto match = unread.find(result.text());
        if (match != unread.end()) {
            ++reads.ours;
            unread.erase(match);
        } else if (!placed.count(result.text())) {
            ++reads.misread;
        }
    }
    if (!scene.twin.empty()) {
        unread = placed;
        for (const std::string& text : readQrCodes(scene.twin)) {
            const auto match = unread.find(text);
            if (match != unread.end()) {
                ++reads.twin;
                unread.erase(match);
            }
        }
    }
    return reads;
}

} // namespace orb::samples

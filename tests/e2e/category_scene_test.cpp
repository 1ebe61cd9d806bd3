// Photo scenes by camera fault, each beside its QR twin: the counts we
// commit to on a small fixed subset, the twin seeing the very same fault,
// and the no-code scenes (also blurred, tilted and inverted) reading nothing.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "orb/logger.h"
#include "orb/reader.h"
#include "support/category_scenes.h"
#include "support/qr_twin.h"

using namespace orb;
using namespace orb::samples;

namespace {

class CategoryScenes : public ::testing::Test {
protected:
    void SetUp() override
    {
        logger().setConsoleLevel(static_cast<int>(LogLevel::Off));
        photos_ = loadPhotos();
        ASSERT_GE(photos_.size(), 12u);
    }
    void TearDown() override { logger().setConsoleLevel(static_cast<int>(LogLevel::Warning)); }

    std::vector<cv::Mat> photos_;
};

// A category at one level: the first `scenes` scenes, and how many codes we
// must read there (what the reader reads today; the light-on-dark codes do
// not read yet, so for them only the absence of a wrong text is checked).
struct Subset {
    std::string category;
    std::size_t level;
    int scenes;
    int ours;
};

void PrintTo(const Subset& subset, std::ostream* out) { *out << subset.category << " level " << subset.level; }

class CategorySubset : public CategoryScenes, public ::testing::WithParamInterface<std::vector<Subset>> {};

TEST_P(CategorySubset, ReadsWhatItCommitsToAndNeverAWrongText)
{
    for (const Subset& subset : GetParam()) {
        const Category& category = sceneCategory(subset.category);
        TwinReads total;
        for (int i = 0; i < subset.scenes; ++i) {
            const TwinScene scene = makeCategoryScene(photos_, category, subset.level, i, qrSymbol);
            ASSERT_FALSE(scene.twin.empty()) << subset.category << " scene " << i << " has no twin";
            const TwinReads reads = readTwinScene(scene);
            total.codes += reads.codes;
            total.ours += reads.ours;
            total.twin += reads.twin;
            EXPECT_EQ(reads.misread, 0) << subset.category << " " << category.levels[subset.level].label << " scene " << i;
        }
        std::cout << subset.category << " " << category.levels[subset.level].label << ": ours " << total.ours << "/"
                  << total.codes << ", QR twin " << total.twin << "/" << total.codes << std::endl;
        EXPECT_GE(total.ours, subset.ours) << subset.category << " " << category.levels[subset.level].label;
    }
}

INSTANTIATE_TEST_SUITE_P(Blur, CategorySubset,
                         ::testing::Values(std::vector<Subset>{{"defocus", 0, 3, 2}, {"defocus", 2, 3, 1},
                                                               {"motion", 0, 3, 3}, {"motion", 2, 3, 0},
                                                               {"motion", 3, 4, 3}}),
                         [](const auto&) { return std::string("counts"); });
INSTANTIATE_TEST_SUITE_P(Geometry, CategorySubset,
                         ::testing::Values(std::vector<Subset>{{"tilt", 1, 3, 3}, {"tilt", 3, 3, 3}, {"tilt", 5, 3, 2},
                                                               {"curved", 0, 3, 3}, {"curved", 2, 3, 3}}),
                         [](const auto&) { return std::string("counts"); });
INSTANTIATE_TEST_SUITE_P(Light, CategorySubset,
                         ::testing::Values(std::vector<Subset>{{"shadow", 0, 3, 3}, {"shadow", 2, 3, 3},
                                                               {"shadow", 4, 3, 3},
                                                               {"glare", 0, 3, 3}, {"glare", 2, 3, 3},
                                                               {"inverted", 0, 3, 0}, {"inverted", 1, 3, 0}}),
                         [](const auto&) { return std::string("counts"); });
INSTANTIATE_TEST_SUITE_P(Covered, CategorySubset,
                         ::testing::Values(std::vector<Subset>{{"stains", 0, 3, 1}, {"stains", 1, 3, 1},
                                                               {"finger", 0, 3, 3}, {"finger", 1, 3, 1}}),
                         [](const auto&) { return std::string("counts"); });
INSTANTIATE_TEST_SUITE_P(Print, CategorySubset,
                         ::testing::Values(std::vector<Subset>{{"screen", 0, 3, 3}, {"screen", 1, 3, 3},
                                                               {"dense", 0, 3, 3}, {"dense", 1, 3, 3}}),
                         [](const auto&) { return std::string("counts"); });
INSTANTIATE_TEST_SUITE_P(Size, CategorySubset,
                         ::testing::Values(std::vector<Subset>{{"clean", 0, 3, 3}, {"clean", 1, 3, 3},
                                                               {"small", 1, 3, 2}, {"small", 2, 3, 3},
                                                               {"multi", 0, 2, 6}, {"multi", 1, 1, 6}}),
                         [](const auto&) { return std::string("counts"); });

// The twin is no easier or harder by accident: away from the two cards both
// frames are the same pixels, so the fault fell on both alike.
TEST_F(CategoryScenes, TwinSharesTheSceneAndItsFault)
{
    for (const std::string name : {"glare", "shadow", "motion", "finger"}) {
        const TwinScene scene = makeCategoryScene(photos_, sceneCategory(name), 1, 0, qrSymbol);
        ASSERT_EQ(scene.twin.size(), scene.scene.image.size());
        const PlacedCode& code = scene.scene.codes.front();
        cv::Mat away(scene.twin.size(), CV_8U, cv::Scalar(255));
        cv::circle(away, code.centre, static_cast<int>(code.diameter), cv::Scalar(0), cv::FILLED);
        cv::Mat difference;
        cv::absdiff(scene.twin, scene.scene.image, difference);
        cv::cvtColor(difference, difference, cv::COLOR_BGR2GRAY);
        difference.setTo(0, away == 0);
        // JPEG blocks straddling the card's edge may differ a little.
        EXPECT_LT(cv::countNonZero(difference > 8), away.total() / 1000) << name;
        // And the twin's symbol is there: where the codes lie, the frames differ.
        cv::absdiff(scene.twin, scene.scene.image, difference);
        const cv::Rect codeBox = cv::Rect(cv::Point(code.centre) - cv::Point(static_cast<int>(code.diameter / 2), static_cast<int>(code.diameter / 2)),
                                           cv::Size(static_cast<int>(code.diameter), static_cast<int>(code.diameter))) &
                                  cv::Rect(cv::Point(), difference.size());
        EXPECT_GT(cv::mean(difference(codeBox))[0], 20) << name;
    }
}

// The peer is a fair one: zxing-cpp reads the twins of clean scenes.
TEST_F(CategoryScenes, QrTwinOfACleanSceneReads)
{
    int read = 0;
    for (int i = 0; i < 3; ++i) read += readTwinScene(makeCategoryScene(photos_, sceneCategory("clean"), 1, i, qrSymbol)).twin;
    EXPECT_GE(read, 3);
}

// A scene is made from its category, level and index alone.
TEST_F(CategoryScenes, SceneDoesNotDependOnWhatWasMadeBefore)
{
    const Category& stains = sceneCategory("stains");
    const TwinScene first = makeCategoryScene(photos_, stains, 2, 4, qrSymbol);
    makeCategoryScene(photos_, sceneCategory("screen"), 0, 1, qrSymbol);
    const TwinScene again = makeCategoryScene(photos_, stains, 2, 4, qrSymbol);
    EXPECT_EQ(cv::norm(first.scene.image, again.scene.image, cv::NORM_INF), 0);
    EXPECT_EQ(cv::norm(first.twin, again.twin, cv::NORM_INF), 0);
    EXPECT_EQ(first.scene.codes.front().text, again.scene.codes.front().text);
}

TEST_F(CategoryScenes, NothingIsReadInBlurredTiltedOrInvertedSceneWithoutCode)
{
    int scenes = 0;
    for (std::size_t p = 1; p < photos_.size(); p += 6)
        for (const cv::Mat& scene : degradedCodeFreeScenes(photos_[p], p % 2 ? cv::Size(1920, 1080) : cv::Size(1280, 720),
                                                           static_cast<unsigned>(p))) {
            ++scenes;
            const std::vector<ReadResult> results = readCodes(scene);
            EXPECT_TRUE(results.empty()) << "scene " << scenes << " read '" << results.front().text() << "'";
        }
    EXPECT_EQ(scenes, 32);
}

} // namespace

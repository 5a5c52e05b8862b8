// Thumbnail geometry: the worked examples row by row, crop positions, degenerate boxes.
#include "core/geometry.h"

#include <gtest/gtest.h>

namespace quillet {
namespace {

struct Row {
    const char* description;
    uint32_t w, h;
    int32_t type, portrait;
    uint32_t middle;
    int32_t nw, nh;
    bool crop;
    int64_t left = 0, top = 0;
    uint32_t cw = 0, ch = 0;
};

const Row kExamples[] = {
    {"landscape exactly 2.5 times the box", 1600, 1200, PerfectFit, RulesOnly, 65, 640, 480, false},
    {"2:1 under perfect fit truncates to 479 rows", 2000, 1000, PerfectFit, RulesOnly, 65, 959, 479, true, 159, 0, 640, 479},
    {"3:2 under perfect fit", 3000, 2000, PerfectFit, RulesOnly, 65, 720, 479, true, 40, 0, 640, 479},
    {"2:1 fit outside keeps the overhang", 2000, 1000, FitOutside, RulesOnly, 65, 959, 479, false},
    {"2:1 fit inside", 2000, 1000, FitInside, RulesOnly, 65, 640, 320, false},
    {"cover rule enlarges", 800, 300, FitOutside, RulesOnly, 65, 1280, 480, false},
    {"enlarged then cut", 800, 300, PerfectFit, RulesOnly, 65, 1280, 480, true, 320, 0, 640, 480},
    {"small picture keeps its size", 300, 200, PerfectFit, RulesOnly, 65, 300, 200, false},
    {"small picture, other rules", 300, 200, FitInside, CropLandscape, 65, 300, 200, false},
    {"portrait with the box turned", 1200, 1600, PerfectFit, ReverseBox, 65, 480, 640, false},
    {"portrait under the rules only", 1200, 1600, PerfectFit, RulesOnly, 65, 640, 853, true, 0, 186, 640, 480},
    {"portrait cropped to landscape at 65", 1200, 1600, PerfectFit, CropLandscape, 65, 640, 853, true, 0, 131, 640, 480},
    {"portrait fit inside ignores crop landscape", 1200, 1600, FitInside, CropLandscape, 65, 360, 480, false},
    {"portrait under fit inside all", 1200, 1600, PerfectFit, FitInsideAll, 65, 360, 480, false},
    {"portrait fit inside all, fit outside", 1200, 1600, FitOutside, FitInsideAll, 65, 360, 480, false},
    {"landscape under fit inside all", 1600, 1200, PerfectFit, FitInsideAll, 65, 640, 480, false},
    {"square is no portrait", 1000, 1000, PerfectFit, ReverseBox, 65, 640, 640, true, 0, 80, 640, 480},
    {"crop landscape with fit outside still cuts", 1200, 1600, FitOutside, CropLandscape, 65, 640, 853, true, 0, 131, 640, 480},
    {"crop at 100 keeps the top", 1200, 1600, FitOutside, CropLandscape, 100, 640, 853, true, 0, 0, 640, 480},
    {"crop at 0 keeps the bottom but one row", 1200, 1600, FitOutside, CropLandscape, 0, 640, 853, true, 0, 372, 640, 480},
    {"crop at 150 starts above the picture", 1200, 1600, FitOutside, CropLandscape, 150, 640, 853, true, 0, -186, 640, 480},
    {"landscape under crop landscape is cut at the centre", 2000, 1000, PerfectFit, CropLandscape, 0, 959, 479, true, 159, 0, 640, 479},
    {"unknown sizing rule leaves the size", 2000, 1000, 7, RulesOnly, 65, 2000, 1000, false},
    {"unknown sizing rule still obeys fit inside all", 2000, 1000, -1, FitInsideAll, 65, 640, 320, false},
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.description; }

class Examples : public ::testing::TestWithParam<Row> {};

TEST_P(Examples, SizeAndCropWindowComeOutExactly)
{
    const Row& row = GetParam();
    BatchSettings s;
    s.Type = row.type;
    s.Portrait = row.portrait;
    s.Middle = row.middle;
    const auto plan = ThumbnailGeometry(row.w, row.h, s);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->width, row.nw);
    EXPECT_EQ(plan->height, row.nh);
    ASSERT_EQ(plan->crop.has_value(), row.crop);
    if (!row.crop)
        return;
    const auto window = CropToBoxWindow(plan->width, plan->height, *plan->crop);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->left, row.left);
    EXPECT_EQ(window->top, row.top);
    EXPECT_EQ(window->width, row.cw);
    EXPECT_EQ(window->height, row.ch);
}

INSTANTIATE_TEST_SUITE_P(Geometry, Examples, ::testing::ValuesIn(kExamples),
                         [](const auto& info) {
                             std::string name = info.param.description;
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

TEST(Geometry, ZeroOrNegativeBoxDescribesNoThumbnail)
{
    BatchSettings s;
    s.Width = 0;
    EXPECT_FALSE(ThumbnailGeometry(1600, 1200, s));
    s.Width = 640;
    s.Height = 0;
    EXPECT_FALSE(ThumbnailGeometry(1600, 1200, s));
    s.Height = 0x80000000u;  // negative as the rules see it
    EXPECT_FALSE(ThumbnailGeometry(1600, 1200, s));
}

TEST(Geometry, ExtremeAspectKeepsAtLeastOnePixel)
{
    BatchSettings s;
    const auto plan = ThumbnailGeometry(20000, 1, s);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->width, 640);
    EXPECT_EQ(plan->height, 1);
}

TEST(CropToBox, NothingToDoWhenTheWindowIsThePictureOrEmpty)
{
    EXPECT_FALSE(CropToBoxWindow(640, 480, {640, 480, 0.5}));
    EXPECT_FALSE(CropToBoxWindow(300, 200, {640, 480, 0.5}));
    EXPECT_FALSE(CropToBoxWindow(640, 480, {0, 480, 0.5}));
    EXPECT_FALSE(CropToBoxWindow(640, 480, {-5, 480, 0.5}));
    const auto narrower = CropToBoxWindow(300, 900, {640, 480, 0.5});
    ASSERT_TRUE(narrower);
    EXPECT_EQ(narrower->left, 0);
    EXPECT_EQ(narrower->top, 210);
    EXPECT_EQ(narrower->width, 300u);
    EXPECT_EQ(narrower->height, 480u);
}

}  // namespace
}  // namespace quillet

#include "quern/fontatlas/FontAtlas.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quern::test {
namespace {

using namespace quern::fontatlas;

const char* const kFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

const std::vector<u8>& dejaVuSans()
{
    static const std::vector<u8> bytes = [] {
        std::ifstream in(kFontPath, std::ios::binary);
        return std::vector<u8>(std::istreambuf_iterator<char>(in), {});
    }();
    return bytes;
}

i32 bigEndian16(const u8* p) { return static_cast<i16>((p[0] << 8) | p[1]); }

// What the atlas hands its user: image updates copied into a test image, draws recorded.
struct Recorder {
    static constexpr i32 kSize = 512;
    struct Vertex {
        f32 x, y, s, t;
        u32 colour;
    };
    std::vector<u8> image = std::vector<u8>(kSize * kSize);
    std::vector<std::vector<Vertex>> draws;
    std::vector<std::array<i32, 4>> updates;
    std::vector<i32> errors;
    i32 creates = 0, deletes = 0;
    i32 createResult = 1;

    FontAtlasParams params(i32 size = kSize)
    {
        FontAtlasParams p;
        p.width = p.height = size;
        p.flags = ZeroTopLeft;
        p.userPtr = this;
        p.renderCreate = [](void* user, i32, i32) {
            auto& r = *static_cast<Recorder*>(user);
            ++r.creates;
            return r.createResult;
        };
        p.renderUpdate = [](void* user, const i32 rect[4], const u8* data) {
            auto& r = *static_cast<Recorder*>(user);
            r.updates.push_back({ rect[0], rect[1], rect[2], rect[3] });
            for (i32 y = rect[1]; y < rect[3]; ++y)
                for (i32 x = rect[0]; x < rect[2]; ++x)
                    r.image[y * kSize + x] = data[y * kSize + x];
        };
        p.renderDraw = [](void* user, const f32* xy, const f32* st, const u32* colours, i32 n) {
            auto& r = *static_cast<Recorder*>(user);
            std::vector<Vertex> draw;
            for (i32 i = 0; i < n; ++i)
                draw.push_back({ xy[i * 2], xy[i * 2 + 1], st[i * 2], st[i * 2 + 1], colours[i] });
            r.draws.push_back(draw);
        };
        p.renderDelete = [](void* user) { ++static_cast<Recorder*>(user)->deletes; };
        return p;
    }

    // Coverage of the image under a quad's texture rectangle.
    u32 coverage(const Vertex& a, const Vertex& b) const
    {
        u32 sum = 0;
        for (i32 y = i32(a.t * kSize); y < i32(b.t * kSize); ++y)
            for (i32 x = i32(a.s * kSize); x < i32(b.s * kSize); ++x)
                sum += image[y * kSize + x];
        return sum;
    }
};

struct FontAtlasTest : ::testing::Test {
    void SetUp() override
    {
        ASSERT_FALSE(dejaVuSans().empty()) << kFontPath;
        atlas = FontAtlas::create(recorder.params());
        ASSERT_NE(atlas, nullptr);
        FontAtlas::setErrorCallback(
            atlas, [](void* user, i32 error, i32) { static_cast<Recorder*>(user)->errors.push_back(error); },
            &recorder);
        font = FontAtlas::addFont(atlas, "hud", dejaVuSans().data(), static_cast<i32>(dejaVuSans().size()));
        ASSERT_EQ(font, 0);
    }
    void TearDown() override { FontAtlas::destroy(atlas); }

    Recorder recorder;
    FontAtlas* atlas = nullptr;
    i32 font = -1;
};

TEST(FontAtlasCreate, StartsWithTheWhiteRectangleAndFailsWhenTheRendererDoes)
{
    Recorder recorder;
    FontAtlas* atlas = FontAtlas::create(recorder.params());
    ASSERT_NE(atlas, nullptr);
    EXPECT_EQ(recorder.creates, 1);
    ASSERT_EQ(atlas->skyline.count, 2);
    EXPECT_EQ(atlas->skyline.nodes[0].y, 2);
    EXPECT_EQ(atlas->skyline.nodes[0].width, 2);
    EXPECT_EQ(atlas->skyline.nodes[1].x, 2);
    EXPECT_EQ(atlas->skyline.nodes[1].width, 510);
    EXPECT_EQ(atlas->image[0], 255);
    EXPECT_EQ(atlas->image[513], 255);
    EXPECT_EQ(atlas->image[2], 0);
    const FontAtlasState& state = *FontAtlas::getState(atlas);
    EXPECT_EQ(state.size, 12.0f);
    EXPECT_EQ(state.align, 65);
    EXPECT_EQ(state.colour, 0xFFFFFFFFu);
    FontAtlas::destroy(atlas);
    EXPECT_EQ(recorder.deletes, 1);

    recorder.createResult = 0;
    EXPECT_EQ(FontAtlas::create(recorder.params()), nullptr);
}

TEST(SkylineAtlas, PlacesWhereTheTopEndsLowest)
{
    SkylineAtlas skyline;
    ASSERT_TRUE(skyline.init(100, 100));
    struct Case {
        i32 w, h, x, y;
    };
    const Case cases[] = { { 40, 30, 0, 0 }, { 40, 10, 40, 0 }, { 30, 20, 40, 10 }, { 20, 50, 80, 0 },
        { 100, 60, -1, -1 }, { 50, 20, 0, 30 } };
    for (const Case& c : cases) {
        i32 x = -1, y = -1;
        const bool placed = skyline.addRect(c.w, c.h, x, y);
        EXPECT_EQ(placed, c.x >= 0) << c.w << "x" << c.h;
        if (placed) {
            EXPECT_EQ(x, c.x) << c.w << "x" << c.h;
            EXPECT_EQ(y, c.y) << c.w << "x" << c.h;
        }
    }
    skyline.release();
}

TEST_F(FontAtlasTest, MetricsComeFromTheHorizontalHeaderOfTheFontBytes)
{
    const std::vector<u8>& bytes = dejaVuSans();
    const i32 tables = (bytes[4] << 8) | bytes[5];
    i32 hhea = -1;
    for (i32 i = 0; i < tables; ++i) {
        const u8* record = bytes.data() + 12 + i * 16;
        if (std::string(reinterpret_cast<const char*>(record), 4) == "hhea")
            hhea = (record[8] << 24) | (record[9] << 16) | (record[10] << 8) | record[11];
    }
    ASSERT_GT(hhea, 0);
    const i32 ascent = bigEndian16(&bytes[hhea + 4]), descent = bigEndian16(&bytes[hhea + 6]);
    const i32 gap = bigEndian16(&bytes[hhea + 8]);
    f32 ascender, descender, lineHeight;
    fontAtlasFontMetrics(atlas, font, ascender, descender, lineHeight);
    const f32 fh = static_cast<f32>(ascent - descent);
    EXPECT_FLOAT_EQ(ascender, ascent / fh);
    EXPECT_FLOAT_EQ(descender, descent / fh);
    EXPECT_FLOAT_EQ(lineHeight, (fh + gap) / fh);
    EXPECT_STREQ(fontAtlasFontName(atlas, font), "hud");
}

TEST_F(FontAtlasTest, SmallAndLargeGlyphsBothHaveCoverage)
{
    for (f32 size : { 20.0f, 120.0f }) {
        recorder.draws.clear();
        FontAtlas::getState(atlas)->size = size;
        FontAtlas::drawText(atlas, 10, 200, "A");
        ASSERT_EQ(recorder.draws.size(), 1u) << size;
        ASSERT_EQ(recorder.draws[0].size(), 6u);
        const auto& quad = recorder.draws[0];
        EXPECT_GT(recorder.coverage(quad[0], quad[1]), 255u * size) << size;
    }
    EXPECT_TRUE(recorder.errors.empty());
}

TEST_F(FontAtlasTest, QuadsSitAtThePenPositionsMeasuredForTheText)
{
    FontAtlasState& state = *FontAtlas::getState(atlas);
    state.size = 24;
    state.colour = 0xFF00FF80;
    const f32 total = FontAtlas::measureText(atlas, 0, 0, "Hello", nullptr);
    const f32 end = FontAtlas::drawText(atlas, 100, 50, "Hello");
    EXPECT_FLOAT_EQ(end - 100, total);
    ASSERT_EQ(recorder.draws.size(), 1u);
    const auto& v = recorder.draws[0];
    ASSERT_EQ(v.size(), 30u);
    const char* text = "Hello";
    for (int g = 0; g < 5; ++g) {
        const f32 before = FontAtlas::measureText(atlas, 0, 0, text, text + g);
        const f32 after = FontAtlas::measureText(atlas, 0, 0, text, text + g + 1);
        const auto& a = v[g * 6];
        const auto& b = v[g * 6 + 1];
        // Each glyph's quad lies around its pen span, and its texels are inked.
        EXPECT_GE(a.x, 100 + before - 3) << g;
        EXPECT_LE(b.x, 100 + after + 3) << g;
        EXPECT_LT(a.y, 50);
        EXPECT_GT(b.y, 40);
        EXPECT_GT(recorder.coverage(a, b), 255u * 10) << g;
        EXPECT_EQ(a.colour, 0xFF00FF80u);
    }
    // A second draw finds every glyph cached: no new image update.
    const u64 updates = recorder.updates.size();
    const i32 glyphs = fontAtlasGlyphCount(atlas, font);
    FontAtlas::drawText(atlas, 0, 0, "olleH");
    EXPECT_EQ(recorder.updates.size(), updates);
    EXPECT_EQ(fontAtlasGlyphCount(atlas, font), glyphs);
}

TEST_F(FontAtlasTest, LongTextIsDrawnInBatchesOfAtMostAThousandVertices)
{
    const std::string text(200, 'x');
    FontAtlas::drawText(atlas, 0, 100, text.c_str());
    ASSERT_EQ(recorder.draws.size(), 2u);
    EXPECT_EQ(recorder.draws[0].size(), 1020u);
    EXPECT_EQ(recorder.draws[1].size(), 180u);
}

TEST_F(FontAtlasTest, LimitsOfSizeBlurTextAndFont)
{
    FontAtlasState& state = *FontAtlas::getState(atlas);
    state.size = 0.1f;
    EXPECT_EQ(FontAtlas::drawText(atlas, 5, 5, "abc"), 5.0f);
    EXPECT_TRUE(recorder.draws.empty());

    state.size = 16;
    state.blur = 25;
    FontAtlas::drawText(atlas, 0, 50, "b");
    const i32 glyphs = fontAtlasGlyphCount(atlas, font);
    EXPECT_EQ(fontAtlasGlyph(atlas, font, glyphs - 1)->blur, 20);
    state.blur = 20;
    FontAtlas::drawText(atlas, 0, 50, "b");
    EXPECT_EQ(fontAtlasGlyphCount(atlas, font), glyphs);

    state.blur = 0;
    recorder.draws.clear();
    FontAtlas::drawText(atlas, 0, 50,
        "ab\xFF"
        "cd");
    ASSERT_EQ(recorder.draws.size(), 1u);
    EXPECT_EQ(recorder.draws[0].size(), 12u);

    state.font = 3;
    EXPECT_EQ(FontAtlas::drawText(atlas, 7, 0, "a"), 7.0f);
    EXPECT_EQ(FontAtlas::addFont(atlas, "junk", reinterpret_cast<const u8*>("not a font at all"), 17), -1);
    EXPECT_EQ(FontAtlas::addFont(atlas, "none", nullptr, 0), -1);
}

TEST_F(FontAtlasTest, StatePushBeyondTheStackReportsAndChangesNothing)
{
    FontAtlas::getState(atlas)->size = 30;
    for (int i = 1; i < FontAtlas::kMaxStates; ++i)
        FontAtlas::pushState(atlas);
    EXPECT_EQ(atlas->stateCount, FontAtlas::kMaxStates);
    EXPECT_EQ(FontAtlas::getState(atlas)->size, 30.0f);
    EXPECT_TRUE(recorder.errors.empty());
    FontAtlas::pushState(atlas);
    EXPECT_EQ(atlas->stateCount, FontAtlas::kMaxStates);
    EXPECT_EQ(recorder.errors, std::vector<i32> { StatesOverflow });
}

TEST(FontAtlasFull, AFullAtlasReportsAndDropsTheGlyph)
{
    Recorder recorder;
    FontAtlas* atlas = FontAtlas::create(recorder.params(32));
    ASSERT_NE(atlas, nullptr);
    FontAtlas::setErrorCallback(
        atlas, [](void* user, i32 error, i32) { static_cast<Recorder*>(user)->errors.push_back(error); }, &recorder);
    ASSERT_EQ(FontAtlas::addFont(atlas, "hud", dejaVuSans().data(), static_cast<i32>(dejaVuSans().size())), 0);
    FontAtlas::getState(atlas)->size = 60;
    FontAtlas::drawText(atlas, 0, 0, "W");
    EXPECT_EQ(recorder.errors, std::vector<i32> { AtlasFull });
    EXPECT_TRUE(recorder.draws.empty());
    FontAtlas::destroy(atlas);
}

} // namespace
} // namespace quern::test

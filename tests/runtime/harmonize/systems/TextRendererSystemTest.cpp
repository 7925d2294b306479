#include "RenderWorld.h"

#include "harmonize/input/InputBindings.h"
#include "harmonize/input/InputPrompter.h"
#include "harmonize/input/InputSwitcher.h"
#include "harmonize/levels/LevelList.h"
#include "harmonize/settings/SettingsUtility.h"
#include "harmonize/systems/TextRendererSystem.h"

#include "GraphicsContent.h"
#include "quern/entity/WorldLocalization.h"
#include "quern/graphics/Font.h"
#include "quern/graphics/PixelBuffer.h"
#include "quern/graphics/Texture.h"
#include "quern/graphics/TextureAtlas.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/strings/StringInterner.h"
#include "quern/visuals/TextLayout.h"
#include "runtime/harmonize/levels/LevelListBytes.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace harmonize;
using harmonize::testing::RenderWorld;
using quern::f32;
using quern::i32;
using quern::u32;
using quern::u64;
using quern::u8;
using quern::graphics::BatchVertex;
using quern::graphics::Font;
using quern::visuals::TextAnchor;

namespace {

constexpr u64 kLabelFont = 0x7001;
// The level list's fourth global id: the font of Japanese texts.
constexpr u64 kJapaneseFont = 0x1c01;
// The level list's eighth global id: the prompt atlas before any pad reports in.
constexpr u64 kPromptAtlas = 0x3c01;

// One placed quad of a label: its extent and what it shows, a character of
// the font or '#' for a prompt glyph.
struct Quad {
    f32 x0, x1, y0, y1, z;
    char shows;
};

// Reads the quads back from the visual, left to right.
std::vector<Quad> quadsOf(quern::visuals::Visual* visual)
{
    std::vector<Quad> quads;
    quern::graphics::VertexBuffer* vb = visual ? visual->vertexBuffer() : nullptr;
    if (!vb || vb->vertexCount() == 0)
        return quads;
    const u64 n = vb->vertexCount();
    const auto* v
        = reinterpret_cast<const BatchVertex*>(vb->lockVertices(quern::containers::BufferBase::Lock::Read, 0, n));
    for (u64 q = 0; q + 4 <= n; q += 4) {
        Quad quad { 1e9f, -1e9f, 1e9f, -1e9f, v[q].z, 0 };
        f32 u0 = 1e9f, u1 = -1e9f;
        for (u64 k = q; k < q + 4; ++k) {
            quad.x0 = std::min(quad.x0, v[k].x);
            quad.x1 = std::max(quad.x1, v[k].x);
            quad.y0 = std::min(quad.y0, v[k].y);
            quad.y1 = std::max(quad.y1, v[k].y);
            u0 = std::min(u0, v[k].u);
            u1 = std::max(u1, v[k].u);
        }
        // Font glyphs are 1/512 wide on the page, at u = code point / 256.
        quad.shows = u1 - u0 > 0.25f ? '#' : static_cast<char>(std::lround(u0 * 256.0f));
        quads.push_back(quad);
    }
    vb->unlockVertices();
    std::sort(quads.begin(), quads.end(), [](const Quad& a, const Quad& b) { return a.x0 < b.x0; });
    return quads;
}

std::string shownText(quern::visuals::Visual* visual)
{
    std::string text;
    for (const Quad& quad : quadsOf(visual))
        text += quad.shows;
    return text;
}

// The label world: the render world with a text renderer, a prompter on the
// default bindings (no device yet: the generic pad's glyphs), and a font of
// every printable ASCII character, each 6 x 8 pixels at 10 pixels, 7 apart.
class TextRendererTest : public harmonize::testing::RenderWorldTest {
protected:
    void SetUp() override
    {
        RenderWorldTest::SetUp();
        Settings::resetToDefaults();
        parseBindings(Settings::Input);
        switcher.bindContexts();
        const test::LevelListImage image = test::writeLevelListImage(test::fullLevelListSpec());
        ASSERT_TRUE(levelList.parse(image.bytes.data(), image.bytes.size(), nullptr));
        w->context.services.levelList = &levelList;
        w->context.services.prompter = &prompter;
        text = new TextRendererSystem(w->context, *w->render);
        w->scene.addSystem(text);
        preloadFont(kLabelFont, 6);
    }
    void TearDown() override
    {
        w.reset();
        textures.clear();
        Settings::resetToDefaults();
        parseBindings(Settings::Input);
        RenderWorldTest::TearDown();
    }

    quern::graphics::Texture* newTexture(u32 width, u32 height)
    {
        textures.emplace_back(new quern::graphics::Texture());
        auto* texture = textures.back().get<quern::graphics::Texture>();
        const std::vector<u8> pixels(u64 { width } * height * 4);
        texture->pixelBuffer()->setImage2D(pixels.data(), width, height);
        return texture;
    }

    Font* preloadFont(u64 id, u32 glyphWidth)
    {
        Font* font = w->preload<Font>(id, quern::assets::ResourceType::Font);
        font->ascent = 8;
        font->descent = -2;
        font->lineGap = 2;
        font->holdTexture(newTexture(256, 16));
        for (i32 c = 32; c < 127; ++c) {
            const f32 s = static_cast<f32>(c) / 256.0f;
            font->glyphs.append(quern::graphics::Glyph {
                s, 1.0f, s + 1.0f / 512.0f, 0.0f, glyphWidth, 8, 0.0f, -8.0f, static_cast<f32>(glyphWidth) + 1.0f });
            font->glyphIndex.append(quern::graphics::GlyphIndex { c, 10, c - 32 });
        }
        return font;
    }

    // The prompt atlas: a 32 x 16 glyph for each named origin.
    void preloadAtlas(const std::vector<const char*>& regions)
    {
        std::vector<quern::assetbuild::AtlasRegionSource> sources;
        for (const char* name : regions)
            sources.push_back({ name, 0, 0, 32, 16, {} });
        const std::vector<u8> file = quern::assetbuild::buildAtlasFile(5, sources);
        const u64 size = file.size() - 16;
        void* block = quern::memory::getDefaultAllocator()->allocate(size, 8);
        std::memcpy(block, file.data() + 16, size);
        auto* atlas = w->preload<quern::graphics::TextureAtlas>(kPromptAtlas, quern::graphics::kTextureAtlasTypeId);
        atlas->setData(block, size, quern::memory::getDefaultAllocator());
        atlas->texture = newTexture(64, 16);
    }

    // A label at 10 pixels showing the text stored under a key of the world's
    // string table.
    EntityHandle addLabel(const char* shown, TextAnchor anchor = TextAnchor::TopLeft, f32 scaleTenths = 10)
    {
        const EntityHandle e = w->scene.add("label", { "Transform", "Renderer", "TextLabel" });
        TextLabel& label = w->scene.get<TextLabel>(e);
        label.anchor = static_cast<i32>(anchor);
        label.scale = scaleTenths;
        label.font = kLabelFont;
        label.pixelSize = 10;
        label.lineSpacing = 1.0f;
        label.depth = 0.5f;
        label.textKey = keyOf(shown);
        return e;
    }
    u64 keyOf(const char* shown)
    {
        quern::strings::StringInterner& texts = *w->world().texts;
        return texts.key(static_cast<u64>(texts.internIndex(shown, std::strlen(shown))));
    }

    void startAndRender()
    {
        w->start();
        text->render(w->world());
    }
    quern::visuals::Visual* visualOf(EntityHandle e) { return w->render->visual(e.index()); }

    // 0 when a text that is no key shows in the label's font and a translated
    // one in the Japanese font; runs in a process whose language is Japanese.
    int japaneseFontsFollowTranslation()
    {
        Settings::setFromIni("Game", "language", "ja");
        if (getLanguage() != 7)
            return 2;
        preloadFont(kJapaneseFont, 12);
        const EntityHandle e = addLabel("A");
        w->world().languageTables[7].append(quern::entity::LanguageEntry { keyOf("B"), keyOf("C") });
        w->world().language = 7;
        startAndRender();
        text->setText(e, "Q", w->world());
        text->render(w->world());
        const std::vector<Quad> plain = quadsOf(visualOf(e));
        text->setText(e, "B", w->world());
        text->render(w->world());
        const std::vector<Quad> translated = quadsOf(visualOf(e));
        if (plain.size() != 1 || plain[0].x1 - plain[0].x0 != 6.0f)
            return 3;
        if (translated.size() != 1 || translated[0].shows != 'C' || translated[0].x1 - translated[0].x0 != 12.0f)
            return 4;
        return 0;
    }

    LevelList levelList;
    InputSwitcher switcher;
    InputPrompter prompter { levelList, switcher };
    TextRendererSystem* text = nullptr;
    std::vector<quern::Ref> textures;
};

TEST(TextPlaceholder, NeedsAClosingPairAfterTheOpeningPair)
{
    struct Case {
        const char* text;
        bool expected;
    };
    const Case cases[] = {
        { "Press [[game.suit]] now", true },
        { "[[]]", true },
        { "[[game.suit", false },
        { "]]x[[", false },
        { "]] then [[game.suit]]", true }, // a stray "]]" before the prompt closes nothing
        { "[", false },
        { "", false },
        { nullptr, false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(hasPlaceholder(c.text), c.expected) << (c.text ? c.text : "(null)");
}

// At scale 2 the block "AB" is 26 x 24 with its centre at (13, -12); anchored
// at its bottom-right corner it moves left by 26 and up by 24.
TEST_F(TextRendererTest, LabelSpritesMoveByTheAnchorOffsetAndBoundTheMovedBlock)
{
    const EntityHandle e = addLabel("AB", TextAnchor::BottomRight, 20);
    startAndRender();

    const std::vector<Quad> quads = quadsOf(visualOf(e));
    ASSERT_EQ(quads.size(), 2u);
    EXPECT_EQ(quads[0].shows, 'A');
    EXPECT_FLOAT_EQ(quads[0].x0, -26.0f);
    EXPECT_FLOAT_EQ(quads[0].x1, -14.0f);
    EXPECT_FLOAT_EQ(quads[0].y0, 8.0f);
    EXPECT_FLOAT_EQ(quads[0].y1, 24.0f);
    EXPECT_FLOAT_EQ(quads[0].z, 0.5f);
    EXPECT_FLOAT_EQ(quads[1].x0, -12.0f);
    EXPECT_FLOAT_EQ(quads[1].x1, 0.0f);

    const BoundingSphere& sphere = w->hierarchy->localBounds(e.index());
    EXPECT_FLOAT_EQ(sphere.centre[0], -13.0f);
    EXPECT_FLOAT_EQ(sphere.centre[1], 12.0f);
    EXPECT_FLOAT_EQ(sphere.centre[2], 0.0f);
    EXPECT_FLOAT_EQ(sphere.radius, std::sqrt(13.0f * 13.0f + 12.0f * 12.0f));
    EXPECT_EQ(text->pendingCount(), 0u);
}

// "A" ends at 6 with the pen at 7; the '[' quad is 8 high, so the 32 x 16
// glyph is drawn 16 x 8, 15 units after the pen, and "B" 15 units after it.
TEST_F(TextRendererTest, PromptGlyphTakesFifteenUnitsOfSpaceOnEachSide)
{
    preloadAtlas({ "Xbox360ButtonX" });
    const EntityHandle e = addLabel("A[[game.suit]]B");
    startAndRender();

    const std::vector<Quad> quads = quadsOf(visualOf(e));
    ASSERT_EQ(quads.size(), 3u);
    EXPECT_EQ(quads[1].shows, '#');
    EXPECT_FLOAT_EQ(quads[1].x0, 22.0f);
    EXPECT_FLOAT_EQ(quads[1].x1, 38.0f);
    EXPECT_FLOAT_EQ(quads[1].y0, -8.0f);
    EXPECT_FLOAT_EQ(quads[1].y1, 0.0f);
    EXPECT_EQ(quads[2].shows, 'B');
    EXPECT_FLOAT_EQ(quads[2].x0, 53.0f);
}

// A prompt that ends the label still belongs to the block the anchor places.
TEST_F(TextRendererTest, PromptAtTheEndOfALabelWidensItsBlock)
{
    preloadAtlas({ "Xbox360ButtonX" });
    const EntityHandle e = addLabel("A[[game.suit]]", TextAnchor::TopRight);
    startAndRender();

    // The block runs to 53 (the glyph's far margin): top-right anchoring
    // moves it left by all of that.
    const std::vector<Quad> quads = quadsOf(visualOf(e));
    ASSERT_EQ(quads.size(), 2u);
    EXPECT_FLOAT_EQ(quads[0].x0, -53.0f);
    EXPECT_FLOAT_EQ(quads[1].x1, 38.0f - 53.0f);
    EXPECT_FLOAT_EQ(w->hierarchy->localBounds(e.index()).centre[0], -26.5f);
}

TEST_F(TextRendererTest, PromptsWithoutAGlyphShowTheInputsName)
{
    preloadAtlas({ "Xbox360ButtonX" });
    struct Case {
        const char* label;
        std::vector<quern::input::InputOrigin> upBindings;
        const char* shown;
    };
    using O = quern::input::InputOrigin;
    const Case cases[] = {
        { "A[[game.suit]]B", {}, "A#B" },
        { "[[controls.up]]", { O::KeyboardCursorUp }, "up" },
        { "[[controls.up]]", { O::KeyboardCursorUp, O::Xbox360ButtonX, O::KeyboardW }, "up#w" },
        { "[[controls.up]]", {}, "UP" }, // nothing bound: the control's name
        { "[[bogus.name]]x", {}, "bogus.namex" },
        { "A[[game.suit", {}, "A[[game.suit" }, // never closed: plain text
        { "A]]B[[", {}, "A]]B[[" },
    };
    std::vector<EntityHandle> labels;
    for (const Case& c : cases)
        labels.push_back(addLabel(c.label));
    w->start();
    for (u64 i = 0; i < std::size(cases); ++i) {
        InputOriginList& up = bindingList(kBindingUp);
        up.count = 0;
        for (O origin : cases[i].upBindings)
            *up.append(nullptr, 1) = static_cast<i32>(origin);
        text->setText(labels[i], cases[i].label, w->world());
        text->render(w->world());
        EXPECT_EQ(shownText(visualOf(labels[i])), cases[i].shown) << cases[i].label;
    }
}

// A prompt on a later line shows its name on that line, not on the first.
TEST_F(TextRendererTest, PromptNamesStayOnTheirLine)
{
    const EntityHandle e = addLabel("A\n[[bogus]]");
    startAndRender();
    const std::vector<Quad> quads = quadsOf(visualOf(e));
    ASSERT_EQ(quads.size(), 6u);
    EXPECT_EQ(quads[0].shows, 'A');
    EXPECT_FLOAT_EQ(quads[0].y1, 0.0f);
    for (u64 i = 1; i < quads.size(); ++i)
        EXPECT_FLOAT_EQ(quads[i].y1, -12.0f) << quads[i].shows;
}

TEST_F(TextRendererTest, SetTextKeepsItsOwnCopyUntilRender)
{
    const EntityHandle e = addLabel("A");
    startAndRender();
    char buffer[16];
    std::strcpy(buffer, "BA");
    const char* shown = text->setText(e, buffer, w->world());
    EXPECT_EQ(shown, buffer); // not a key: the text itself
    std::strcpy(buffer, "ZZZZZZ");
    text->render(w->world());
    EXPECT_EQ(shownText(visualOf(e)), "BA");
}

TEST_F(TextRendererTest, SetTextOfAKeyShowsTheStringTablesText)
{
    const EntityHandle e = addLabel("A");
    const u64 key = keyOf("B");
    w->world().languageTables[1].append(quern::entity::LanguageEntry { key, keyOf("AB") });
    w->world().language = 1;
    startAndRender();
    EXPECT_STREQ(text->setText(e, "B", w->world()), "AB");
    text->render(w->world());
    EXPECT_EQ(shownText(visualOf(e)), "AB");
}

// In Japanese a translated text takes the Japanese font (12 wide here); a
// text that is no key keeps the label's font. The language is chosen once
// per process, so the check runs in a fresh one.
TEST_F(TextRendererTest, OnlyTranslatedTextsTakeTheLanguagesFont)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(japaneseFontsFollowTranslation()), ::testing::ExitedWithCode(0), "");
    GTEST_FLAG_SET(death_test_style, "fast");
}

TEST_F(TextRendererTest, StaleAndDeadHandlesAreSkipped)
{
    const EntityHandle e = addLabel("A");
    const EntityHandle gone = addLabel("B");
    startAndRender();
    w->world().destroyEntities(&gone, 1);
    const EntityHandle stale = EntityHandle::make(e.index(), static_cast<quern::u16>(e.generation() + 1));
    text->setText(stale, "B", w->world());
    text->setText(gone, "A", w->world());
    text->setText(EntityHandle {}, "A", w->world());
    text->setText(EntityHandle::make(0xffff, 1), "A", w->world());
    text->setText(EntityHandle::make(1000, 1), "A", w->world());
    text->render(w->world());
    EXPECT_EQ(shownText(visualOf(e)), "A");
    EXPECT_EQ(text->pendingCount(), 0u);
}

TEST_F(TextRendererTest, RefreshRebuildsOnlyLabelsWithPrompts)
{
    preloadAtlas({ "Xbox360ButtonX" });
    const EntityHandle prompt = addLabel("[[game.suit]]");
    const EntityHandle plain = addLabel("AB");
    startAndRender();
    for (EntityHandle e : { prompt, plain })
        visualOf(e)->vertexBuffer()->setSize(0);

    text->render(w->world());
    EXPECT_EQ(shownText(visualOf(prompt)), "");

    text->requestRefresh();
    text->render(w->world());
    EXPECT_EQ(shownText(visualOf(prompt)), "#");
    EXPECT_EQ(shownText(visualOf(plain)), "");
}

TEST_F(TextRendererTest, AMissingFontSkipsTheLabelWithOneErrorLine)
{
    quern::testing::LogCapture log(1);
    const EntityHandle e = addLabel("AB");
    w->scene.get<TextLabel>(e).font = 0x9901;
    startAndRender();
    text->setText(e, "A", w->world());
    text->render(w->world());
    EXPECT_EQ(shownText(visualOf(e)), "");
    EXPECT_EQ(log.count("Text label font 0x9901 is not preloaded"), 1u) << log.text();
}

TEST_F(TextRendererTest, AMissingPromptAtlasShowsInputNamesWithOneErrorLine)
{
    quern::testing::LogCapture log(1);
    const EntityHandle e = addLabel("[[game.suit]]");
    startAndRender();
    text->requestRefresh();
    text->render(w->world());
    EXPECT_EQ(shownText(visualOf(e)), "xbox360buttonx");
    EXPECT_EQ(log.count("Text label prompt atlas 0x3c01 is not preloaded"), 1u) << log.text();
}

} // namespace

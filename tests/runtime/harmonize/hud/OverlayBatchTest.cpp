#include "harmonize/hud/OverlayBatch.h"

#include "harmonize/hud/HudRenderPass.h"
#include "harmonize/input/InputPrompter.h"
#include "harmonize/input/InputSwitcher.h"
#include "harmonize/levels/LevelList.h"
#include "harmonize/tasks/LoadingWorker.h"

#include "quern/graphics/Display.h"
#include "quern/graphics/NullDisplay.h"
#include "quern/render/RenderCommand.h"
#include "quern/visuals/MeshVisual.h"

#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace harmonize {
namespace {

// The overlay over the null device, its resources made without a HUD font.
class OverlayBatchTest : public ::testing::Test {
protected:
    OverlayBatchTest() { quern::graphics::Display::set(new quern::graphics::NullDisplay); }
    ~OverlayBatchTest() override
    {
        overlay.releaseResources();
        quern::graphics::Display::set(nullptr);
    }

    LoadingWorker worker { nullptr, nullptr };
    LevelList levelList;
    InputSwitcher switcher;
    InputPrompter prompter { levelList, switcher };
    OverlayBatch overlay { worker, levelList, prompter };
};

TEST_F(OverlayBatchTest, RectanglesArePremultipliedAndCoverWhatIsBehind)
{
    overlay.createResources(0);
    const f32 red[4] = { 1.0f, 0.0f, 0.0f, 0.5f };
    overlay.addRectangle({ 100, 200, 300, 260 }, overlay.whiteTexture(), red);
    ASSERT_EQ(overlay.buildingItems().size(), 1u);
    const OverlayItem& item = overlay.buildingItems()[0];
    EXPECT_EQ(item.kind, OverlayItemKind::Quad);
    EXPECT_NE(item.visual, nullptr);
    EXPECT_NE(item.itemMaterial, nullptr);
    const f32 expected[4] = { 0.5f, 0.0f, 0.0f, 0.5f };
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(item.colour[c], expected[c]);
    EXPECT_EQ(item.sourceBlend, 1);
    EXPECT_EQ(item.destinationBlend, 5);
    EXPECT_EQ(item.position[0], 200.0f);
    EXPECT_EQ(item.position[1], 230.0f);
    EXPECT_EQ(item.extent[0], 100.0f);
    EXPECT_EQ(item.extent[1], 30.0f);
}

// An item added in a frame is drawn after that frame's end, and its text goes
// back to the pool at the end of the next one.
TEST_F(OverlayBatchTest, TextsArePooledUntilTheFrameAfterTheyWereDrawn)
{
    overlay.addAtlasText(nullptr, 0, 0, 20, 9);
    EXPECT_TRUE(overlay.buildingItems().empty());
    std::string text = "3 / 12";
    overlay.addAtlasText(text.c_str(), 10, 20, 20, 9);
    overlay.addAtlasText(text.c_str(), 10, 60, 20, 9);
    text = "changed"; // the caller's buffer is not the item's text
    EXPECT_EQ(overlay.strings().useCount("3 / 12"), 2u);
    EXPECT_EQ(overlay.buildingItems()[0].text, overlay.buildingItems()[1].text);

    overlay.endFrame();
    ASSERT_EQ(overlay.drawingItems().size(), 2u);
    EXPECT_STREQ(overlay.drawingItems()[0].text, "3 / 12");
    EXPECT_TRUE(overlay.buildingItems().empty());
    overlay.endFrame();
    EXPECT_EQ(overlay.strings().useCount("3 / 12"), 0u);
    EXPECT_TRUE(overlay.drawingItems().empty());
}

TEST_F(OverlayBatchTest, CountersRedrawnEveryFrameKeepThePoolFlat)
{
    for (int frame = 0; frame < 5'000; ++frame) {
        overlay.addAtlasText(std::to_string(frame).c_str(), 0, 0, 20, 9);
        overlay.addAtlasText((std::to_string(frame) + " / 50").c_str(), 0, 40, 20, 9);
        overlay.endFrame();
    }
    EXPECT_LE(overlay.strings().slotCount(), 4u);
    EXPECT_EQ(overlay.strings().liveCount(), 2u);
}

TEST_F(OverlayBatchTest, AVisualQuadOfAnEmptyEntryAddsNothing)
{
    quern::visuals::Visual* visuals[2] = { nullptr, nullptr };
    const f32 at[2] = { 5, 6 };
    overlay.addVisualQuad(0x10001, visuals, at, 2.0f);
    EXPECT_TRUE(overlay.buildingItems().empty());
    const quern::Ref visual(new quern::visuals::MeshVisual());
    visuals[1] = visual.get<quern::visuals::Visual>();
    overlay.addVisualQuad(0x10001, visuals, at, 2.0f); // the low 16 bits index
    ASSERT_EQ(overlay.buildingItems().size(), 1u);
    EXPECT_EQ(overlay.buildingItems()[0].visual, visuals[1]);
    EXPECT_EQ(overlay.buildingItems()[0].extent[1], 2.0f);
}

// Without a binding the prompt is the control's name in capitals, as text.
TEST_F(OverlayBatchTest, APromptWithoutABindingIsTheNameInCapitals)
{
    overlay.addInputPrompt(3, 100, 200); // Select
    ASSERT_EQ(overlay.buildingItems().size(), 1u);
    const OverlayItem& item = overlay.buildingItems()[0];
    EXPECT_EQ(item.kind, OverlayItemKind::AtlasText);
    EXPECT_STREQ(item.text, "SELECT");
    EXPECT_EQ(item.position[0], 90.0f);
    EXPECT_EQ(item.position[1], 210.0f);
    EXPECT_EQ(item.extent[0], 20.0f);
    EXPECT_EQ(item.alignment, 9);
}

// The level's and the menu's updates may add at the same time.
TEST_F(OverlayBatchTest, TwoWorldsAddingAtOnceLoseNoItemAndNoCount)
{
    auto add = [this](const char* text) {
        for (int i = 0; i < 5'000; ++i)
            overlay.addAtlasText(text, 0, 0, 20, 9);
    };
    std::thread level(add, "level");
    std::thread menu(add, "menu");
    level.join();
    menu.join();
    EXPECT_EQ(overlay.buildingItems().size(), 10'000u);
    EXPECT_EQ(overlay.strings().useCount("level"), 5'000u);
    EXPECT_EQ(overlay.strings().useCount("menu"), 5'000u);
}

// A missing HUD font costs the atlas texts only, with one error naming it.
TEST_F(OverlayBatchTest, WithoutTheHudFontAtlasTextsAreSkipped)
{
    quern::testing::LogCapture log(1);
    overlay.createResources(0x1234);
    EXPECT_FALSE(overlay.pass()->drawer().hasFontAtlas());
    EXPECT_NE(log.text().find("HUD font 1234"), std::string::npos) << log.text();
    const f32 white[4] = { 1, 1, 1, 1 };
    overlay.addAtlasText("skipped", 10, 10, 20, 9);
    overlay.addRectangle({ 0, 0, 10, 10 }, overlay.whiteTexture(), white);
    overlay.endFrame();
    quern::render::RenderCommand command;
    overlay.pass()->drawer().run(command);
    EXPECT_EQ(overlay.drawingItems().size(), 2u);
}

} // namespace
} // namespace harmonize

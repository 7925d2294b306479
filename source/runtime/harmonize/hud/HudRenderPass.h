#pragma once
// The pass that draws the overlay's items over the finished frame: it sets
// the letterboxed output viewport and calls its drawer, which renders every
// item by itself in insertion order (later items cover earlier ones), then
// the prompt glyphs in one sprite-batch draw. Atlas texts go through a font
// atlas of 512 x 512 over the HUD font's TrueType bytes.

#include "harmonize/hud/OverlayBatch.h"

#include "quern/math/Matrix4.h"
#include "quern/render/RenderCommand.h"
#include "quern/render/RenderContext.h"
#include "quern/render/RenderPass.h"

namespace quern::fontatlas {
class FontAtlas;
}
namespace quern::graphics {
class GraphicsBackEnd;
class PixelBuffer;
class TextMaterial;
class VertexBuffer;
} // namespace quern::graphics
namespace quern::render {
class RenderQueue;
}

namespace harmonize {

// What the font atlas draws with: its image, a vertex buffer and the text
// material, through the drawer's queue.
struct FontRenderContext {
    quern::graphics::GraphicsBackEnd* backEnd = nullptr;
    quern::graphics::PixelBuffer* image = nullptr; // one reference
    quern::graphics::VertexBuffer* vertices = nullptr; // one reference
    quern::graphics::TextMaterial* material = nullptr; // one reference
    quern::render::RenderQueue* queue = nullptr;
    quern::math::Matrix4 projection = quern::math::Matrix4::identity();
    i32 width = 0;
    i32 height = 0;
};

class HudDrawer final : public quern::render::RenderCallback {
public:
    static constexpr i32 kAtlasSize = 512;

    HudDrawer() = default;
    ~HudDrawer() override;
    HudDrawer(const HudDrawer&) = delete;
    HudDrawer& operator=(const HudDrawer&) = delete;

    // The queue, the font atlas over `font` (null or without TrueType bytes:
    // atlas texts are skipped, with one error naming `fontId`) and the
    // sprite-batch visual.
    void init(const quern::graphics::Font* font, quern::u64 fontId, LoadingWorker& worker, const LevelList& levelList,
        quern::visuals::SpriteBatch& promptSprites);
    void release();
    void setItems(const OverlayItem* items, quern::u64 count)
    {
        m_items = items;
        m_count = count;
    }

    void run(quern::render::RenderCommand& command) override;

    bool hasFontAtlas() const { return m_atlas != nullptr && m_font >= 0; }

private:
    void drawQuad(const OverlayItem& item);
    void drawMeshText(const OverlayItem& item);
    void drawAtlasText(const OverlayItem& item);
    void drawPromptSprites();

    quern::render::RenderQueue* m_queue = nullptr;
    const OverlayItem* m_items = nullptr;
    quern::u64 m_count = 0;
    FontRenderContext m_fontContext;
    quern::fontatlas::FontAtlas* m_atlas = nullptr;
    i32 m_font = -1;
    quern::visuals::SpriteBatch* m_promptSprites = nullptr;
    quern::Ref m_spriteVisual;
    quern::u64 m_fontId = 0;
    LoadingWorker* m_worker = nullptr;
    const LevelList* m_levelList = nullptr;
};

class HudRenderPass final : public quern::render::RenderPass {
public:
    HudRenderPass();
    ~HudRenderPass() override;

    void recordCommands(quern::render::RenderCommandList& list) override;
    void setUp() override { }

    HudDrawer& drawer() { return m_drawer; }

private:
    HudDrawer m_drawer;
};

// The virtual screen's projection, y down from the top (or up from the
// bottom, for the prompt sprites): x' = x / 960 - 1, y' = -y / 540 + 1.
quern::math::Matrix4 hudProjection(bool yUp);

} // namespace harmonize

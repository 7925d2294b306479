#pragma once
// Turns the text labels of a world's entities into sprite quads in each
// entity's visual. A label is rebuilt only when its text changes: when the
// entity is created, when a menu sets its text, or, for texts with input
// prompts ("[[game.suit]]"), when the player's device or input context
// changes so the prompts show other glyphs.
//
// setText and entitiesCreated run in the world's update task, render on the
// main thread after the updates finished; each world has its own renderer, so
// the pending texts need no lock.

#include "quern/containers/Array.h"
#include "quern/entity/System.h"
#include "quern/visuals/SpriteBatch.h"

namespace harmonize {

using quern::u32;
using quern::u64;
using quern::u8;

struct AppContext;
class InputPrompter;
class LevelList;
class LoadingWorker;
class RenderSystem;

// True when the text holds an input prompt: "[[" with a "]]" after it.
bool hasPlaceholder(const char* text);

class TextRendererSystem final : public quern::entity::System {
public:
    TextRendererSystem(AppContext& context, RenderSystem& render);
    ~TextRendererSystem() override;

    // Queues the labels of the new entities with their localised texts.
    void entitiesCreated(const quern::entity::EntityHandle* handles, u64 count, quern::entity::World& world,
        quern::memory::Allocator* allocator) override;
    void attach(quern::memory::Allocator* allocator) override;
    void detach(quern::memory::Allocator* allocator) override;
    void describe(quern::entity::SystemInfo* info) override;

    // Shows `text` on the entity's label from the next render: its
    // translation when the text is a key of the world's string table, else
    // the text itself. The renderer keeps its own copy, so a caller may pass a
    // buffer it reuses at once. Returns the text that will show (the string
    // table's, or `text`).
    const char* setText(quern::entity::EntityHandle entity, const char* text, quern::entity::World& world);
    // Builds the quads of every label queued since the last render.
    void render(quern::entity::World& world);
    // Rebuilds the labels with prompts at the next render.
    void requestRefresh() { m_refreshPlaceholders = 1; }

    u64 pendingCount() const { return m_pending.count(); }

private:
    struct PendingText {
        u32 handle;
        u8 translated; // the text is a translation: the language's font shows it
        u64 textOffset; // into m_pendingChars
    };

    void queue(quern::entity::EntityHandle entity, const char* text, bool translated);
    void queuePlaceholderLabels(quern::entity::World& world);
    void renderLabel(const PendingText& pending, quern::entity::World& world);
    u64 fontIdFor(u64 labelFont, bool translated) const;
    // Reports an asset that is not preloaded once per level.
    void reportMissing(u64 assetId, const char* kind);

    RenderSystem* m_render;
    LoadingWorker* m_loadingWorker;
    const LevelList* m_levelList;
    const InputPrompter* m_prompter;
    quern::containers::Array m_pending { sizeof(PendingText), alignof(PendingText) };
    // The pending texts' bytes, each zero-terminated, until render used them.
    quern::containers::Array m_pendingChars { sizeof(char), alignof(char) };
    quern::visuals::SpriteBatch m_sprites;
    quern::containers::Array m_reported { sizeof(u64), alignof(u64) };
    u8 m_refreshPlaceholders = 0;
};

} // namespace harmonize

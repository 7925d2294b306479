#pragma once
// TrueType text as textured quads from one 8-bit glyph image. Glyphs are
// rasterised on demand, packed by a skyline packer, cached by (code point,
// size, blur) and never evicted. The atlas knows no graphics device: it hands
// the changed part of its image and its vertices (1,024 at a time) to five
// callbacks of its user. Everything it holds comes from the C heap.

#include "quern/Types.h"
#include "quern/fontatlas/SkylineAtlas.h"

namespace quern::fontatlas {

struct FontAtlasFont;

enum FontAtlasFlags : u8 {
    ZeroTopLeft = 1, // y grows downwards from the top-left corner
};

enum FontAtlasAlign : i32 {
    AlignLeft = 1,
    AlignCenter = 2,
    AlignRight = 4,
    AlignTop = 8,
    AlignMiddle = 16,
    AlignBottom = 32,
    AlignBaseline = 64,
};

enum FontAtlasError : i32 {
    AtlasFull = 1,
    ScratchFull = 2,
    StatesOverflow = 3,
};

struct FontAtlasParams {
    i32 width = 0;
    i32 height = 0;
    u8 flags = 0;
    void* userPtr = nullptr;
    i32 (*renderCreate)(void* user, i32 width, i32 height) = nullptr;
    i32 (*renderResize)(void* user, i32 width, i32 height) = nullptr;
    void (*renderUpdate)(void* user, const i32 rect[4], const u8* image) = nullptr;
    void (*renderDraw)(void* user, const f32* positions, const f32* texCoords, const u32* colours, i32 count) = nullptr;
    void (*renderDelete)(void* user) = nullptr;
};

struct FontAtlasState {
    i32 font = 0;
    i32 align = AlignLeft | AlignBaseline;
    f32 size = 12.0f;
    u32 colour = 0xFFFFFFFF; // RGBA8, red in the lowest byte
    f32 blur = 0.0f;
    f32 spacing = 0.0f;
};

struct FontAtlasGlyph {
    u32 codePoint;
    i32 index; // in the font
    i32 next; // in the same hash chain; -1 ends it
    i16 size; // pixels x 10
    i16 blur;
    i16 x0, y0, x1, y1; // in the image, blur margin included
    i16 advance; // pixels x 10
    i16 xOffset, yOffset; // of the rectangle's corner from the pen
};

class FontAtlas {
public:
    static constexpr i32 kMaxStates = 20;
    static constexpr i32 kVertexCount = 1024;
    // stb_truetype's rasteriser takes up to about 25 KB at once; larger
    // requests (glyphs over a few hundred pixels) spill to the heap.
    static constexpr u64 kScratchSize = 64 * 1024;

    // Null when memory runs out or renderCreate fails.
    static FontAtlas* create(const FontAtlasParams& params);
    static void destroy(FontAtlas* atlas);
    // The font's index, or -1 when the bytes are no usable TrueType font.
    // The bytes stay the caller's and must outlive the atlas.
    static i32 addFont(FontAtlas* atlas, const char* name, const u8* bytes, i32 length);
    // Draws in the current state; returns the pen's x after the text.
    static f32 drawText(FontAtlas* atlas, f32 x, f32 y, const char* text);
    // The advance of the text up to `end` (null: its terminating zero).
    static f32 measureText(FontAtlas* atlas, f32 x, f32 y, const char* text, const char* end);
    // Copies the current state on top; past kMaxStates reports StatesOverflow.
    static void pushState(FontAtlas* atlas);
    static FontAtlasState* getState(FontAtlas* atlas);
    static void setErrorCallback(FontAtlas* atlas, void (*callback)(void* user, i32 error, i32 value), void* user);

    // stb_truetype's temporary allocations: never fail, freed at the next reset.
    void* scratchAllocate(u64 size);
    void scratchReset();

    FontAtlasParams params;
    f32 inverseWidth = 0, inverseHeight = 0;
    u8* image = nullptr;
    i32 dirty[4] = { 0, 0, 0, 0 };
    FontAtlasFont** fonts = nullptr;
    i32 fontCapacity = 0;
    i32 fontCount = 0;
    SkylineAtlas skyline;
    f32 positions[kVertexCount * 2];
    f32 texCoords[kVertexCount * 2];
    u32 colours[kVertexCount];
    i32 vertexCount = 0;
    u8* scratch = nullptr;
    u64 scratchUsed = 0;
    void* scratchOverflow = nullptr; // heap blocks chained through their first word
    FontAtlasState states[kMaxStates];
    i32 stateCount = 0;
    void (*errorCallback)(void* user, i32 error, i32 value) = nullptr;
    void* errorUser = nullptr;
};

// The font's name, metrics and glyph count, for inspection.
const char* fontAtlasFontName(const FontAtlas* atlas, i32 font);
void fontAtlasFontMetrics(const FontAtlas* atlas, i32 font, f32& ascender, f32& descender, f32& lineHeight);
i32 fontAtlasGlyphCount(const FontAtlas* atlas, i32 font);
const FontAtlasGlyph* fontAtlasGlyph(const FontAtlas* atlas, i32 font, i32 index);

} // namespace quern::fontatlas

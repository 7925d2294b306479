#pragma once
// The layout of one vertex: up to 16 attributes in vertex order, the byte
// offsets of those the engine knows by role, the stride, and the hash of the
// format's text by which the state-object cache finds compiled device state.

#include "quern/Types.h"
#include "quern/graphics/VertexAttribute.h"

#include <string>

namespace quern::graphics {

class VertexFormat {
public:
    static constexpr u64 kMaxAttributes = 16;

    // Bits of `flags`.
    static constexpr u32 kHasPosition = 0x1;
    static constexpr u32 kHasNormal = 0x2;
    static constexpr u32 kHasColor = 0x4;
    static constexpr u32 kColorHasFourComponents = 0x8;
    // Semantic index of the last texture-coordinate attribute, plus 1.
    static constexpr u32 kTexCoordShift = 8;
    static constexpr u32 kTexCoordMask = 0xf00;

    VertexAttribute attributes[kMaxAttributes] = {};
    u64 count = 0;
    u64 stride = 0;
    u32 flags = 0;
    u32 hash = 0; // MurmurHash2 of toString()
    u8 positionOffset = 0;
    u8 normalOffset = 0;
    u8 colourOffset = 0;
    u8 texCoordOffsets[8] = {};

    // Position (0x1), normal (0x2), colour (0x4), then (flags >> 8) & 0xf
    // texture-coordinate sets; more than eight sets is fatal.
    static VertexFormat fromFlags(u32 flags);

    // Derives stride, flags, offsets, indexes and hash from the attributes.
    void computeLayout();
    // Appends an attribute and lays the format out again; a seventeenth is fatal.
    void addAttribute(const VertexAttribute& attribute);
    // The first attribute with that id; raises "Attribute not found: <name>".
    const VertexAttribute& getAttributeWithID(u64 id) const;
    // The first attribute with that id, or null.
    const VertexAttribute* findAttribute(u64 id) const;
    // The attributes' texts joined by single blanks.
    std::string toString() const;
    // Same stride and count, and every attribute has the same id, count and type.
    bool hasSameLayout(const VertexFormat& other) const;
};

// Parses a format written as attribute tokens separated by white space.
// Raises "Invalid vertex attribute string: <token>" for an empty token (so an
// empty text and a text ending in white space are refused) and "Invalid vertex
// format string: <text>" for a format that is empty, has more than 16
// attributes, or whose attributes do not all start within the first 256 bytes.
VertexFormat vertexFormatFromString(const std::string& text);

} // namespace quern::graphics

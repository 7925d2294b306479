#pragma once
// One attribute of a vertex: a packed name, a component count and a component
// type. Vertex formats are lists of them, written as text one attribute per
// token: "name(count type)", or a bare "position", "normal" or "color".

#include "quern/Types.h"

#include <string>

namespace quern::graphics {

struct VertexAttribute {
    // Component type codes; the names are those of the text form.
    enum Type : u8 {
        Float = 1, // "f"
        Double = 2, // "d"
        Byte = 3, // "b"
        Short = 4, // "s"
        Int = 5, // "i"
        UnsignedByte = 6, // "ub"
        UnsignedShort = 7, // "us"
        UnsignedInt = 8, // "ui"
    };

    // Packed names of the attributes the engine knows by role.
    static constexpr u64 kPositionID = 0x288A972BB1B98FADull; // "position"
    static constexpr u64 kNormalID = 0x2399FDD8A9D8A8EDull; // "normal"
    static constexpr u64 kColorID = 0x086E42000F6C5663ull; // "color"
    static constexpr u64 kTexCoord0ID = 0x31C2594CF2C6FC93ull; // "texcoord0"
    // "texcoord0" to "texcoord7" differ in their ninth character only.
    static constexpr u64 kIndexedIDStep = 50653;
    static constexpr int kIndexedIDCount = 8;

    u64 id = 0; // packed name; 0 for the empty attribute
    u8 count = 0; // components
    u8 offset = 0; // byte offset in a vertex, set by the format's layout
    u8 index = 0; // position in its format, set by the layout
    u8 semanticIndex = 0; // number of an indexed attribute, else 0
    u8 type = 0; // Type code
    u8 flag = 0;

    // Parses one token of a vertex format. The empty text gives the empty
    // attribute; a malformed text, or a count of 0 or above 255, is raised as
    // "Invalid vertex attribute: <text>"; an unknown type name is fatal.
    static VertexAttribute fromString(const std::string& text);
    // The type code named exactly `name`; any other text is fatal.
    static u8 typeFromName(const std::string& name);
    // The i-th indexed id (0 to 7), else 0.
    static u64 indexedID(int i);
    // 1 to 7 for the second to eighth indexed ids; 0 for any other id.
    static u32 indexOfID(u64 id);

    static VertexAttribute position() { return { kPositionID, 3, 0, 0, 0, Float, 0 }; }
    static VertexAttribute normal() { return { kNormalID, 3, 0, 0, 0, Float, 0 }; }
    static VertexAttribute color() { return { kColorID, 4, 0, 0, 0, UnsignedByte, 0 }; }
    // Two floats of texture coordinates, semantic index i (0 to 7).
    static VertexAttribute texCoord(int i);

    // "name(<count><type>)", the name in lower case; fatal for an unknown type.
    std::string toString() const;
    // Bytes of the attribute in a vertex; 0 for an unknown type.
    u32 getSize() const;

    bool operator==(const VertexAttribute&) const = default;
};

static_assert(sizeof(VertexAttribute) == 16, "a vertex attribute is 16 bytes");

// Size in bytes of one component of a type code; 0 for an unknown code.
u32 vertexComponentSize(u8 type);

} // namespace quern::graphics

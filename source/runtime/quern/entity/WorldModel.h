#pragma once
// The component model a level file carries: the world's name and, per
// component type, its name, two further texts and its attributes in order.
// Component values are stored attribute by attribute, so the layout of each
// type's bytes comes from the file's own model, with the padding rules below:
// bytes aligned to 1, every other value (64-bit ones included) aligned to 4.

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/serialize/PODTypeDescriptor.h"

namespace quern {
class ByteSource;
}
namespace quern::memory {
class Allocator;
}
namespace quern::serialize {
class PODToken;
}
namespace quern::strings {
class StringInterner;
}

namespace quern::entity {

inline constexpr u64 kWorldModelChunkId = 0x115fc95043460021ull; // "gameproject"
inline constexpr u64 kEntityChunkId = 0x0d50f98bed0e9441ull; // "entity"
// Texts of a world file are stored with their terminator in at most this many bytes.
inline constexpr u64 kWorldFileTextCapacity = 1024;
// No attribute count beyond what one byte holds, hence the field limit below.
inline constexpr u32 kMaxComponentAttributes = 255;

struct ComponentAttribute {
    enum class Type : u8 {
        Int32 = 0,
        Float32 = 1,
        UInt8 = 2,
        UInt64 = 3,
        UInt32 = 4,
        Id64 = 5, // a second 64-bit kind the editor tells apart; stored like UInt64
    };

    Type type;
    u32 elementCount;
    // Editor flags: kept, never interpreted by the engine.
    bool flags[2];
    const char* name; // owned by the model's text table
};

struct ComponentTypeDescription {
    static constexpr u8 kNoIndex = 255;

    const char* name;
    const char* texts[2]; // editor texts, kept as read
    ComponentAttribute* attributes; // `attributeCount` entries from the model's allocator
    u32 attributeCount;
    u8 byteIndex; // the type's index in the model, kNoIndex until set
};

class WorldModel {
public:
    explicit WorldModel(memory::Allocator* allocator = nullptr);
    ~WorldModel();
    WorldModel(const WorldModel&) = delete;
    WorldModel& operator=(const WorldModel&) = delete;

    u64 typeCount() const { return types.count(); }
    ComponentTypeDescription& type(u64 index) { return types.at<ComponentTypeDescription>(index); }
    const ComponentTypeDescription& type(u64 index) const { return types.at<ComponentTypeDescription>(index); }

    // Adds a type with room for `attributeCount` attributes (filled by the
    // caller); texts are copied into the model.
    ComponentTypeDescription& addType(const char* name, const char* text1, const char* text2, u32 attributeCount);
    void setAttribute(ComponentTypeDescription& type, u32 index, ComponentAttribute::Type valueType, u32 elementCount,
        bool flag1, bool flag2, const char* name);
    void setName(const char* text);
    // Copies the text into the model's table and returns the stored copy.
    const char* keepText(const char* text);
    // Frees every description and text; the model is empty again.
    void clear();

    const char* name; // the world's name ("" until read)
    containers::Array types; // ComponentTypeDescription in file order, reserved for 128
    containers::Array typeLookup; // ComponentTypeDescription*, left to the model's owner

private:
    memory::Allocator* m_allocator;
    strings::StringInterner* m_texts;
};

// The largest number of fields a component descriptor can need: padding before
// every attribute and once at the end.
inline constexpr u32 kMaxComponentFields = 2 * kMaxComponentAttributes + 1;

// A descriptor with its own field storage.
struct ComponentDescriptor {
    serialize::PODTypeDescriptor descriptor;
    serialize::PODComponent fields[kMaxComponentFields];
};

// Reads the model header chunk. A model of more than 128 types is fatal before
// any type is read; `fileName` (may be null) names the file in messages.
void readWorldModel(ByteSource& source, serialize::PODToken& token, WorldModel& model, const char* fileName = nullptr);

// The byte size of one component per type, in model order. A type without
// attributes has size 1; an attribute of an unknown type counts 0 bytes.
// readWorldModel refuses types whose size does not fit 16 bits.
void computeComponentSizes(const WorldModel& model, u16* sizes);
// The size of one type's component, without the 16-bit limit.
u64 componentByteSize(const ComponentTypeDescription& type);

// The record layout of one component: padding as explicit Skip fields. A type
// without attributes gets one 8-bit Skip field. An attribute of an unknown
// type is fatal "Invalid enum value for type ComponentAttribute::Type".
void buildComponentDescriptor(const ComponentTypeDescription& type, ComponentDescriptor& out);

} // namespace quern::entity

#pragma once
// A description of every component record by field: the names a level source
// uses, each field's value kind, place and count. The content tool writes the
// world model from it and reads level sources by it, and tests build worlds by
// it, so a level and the code can never disagree on a record.

#include "harmonize/components/ComponentTypes.h"

namespace quern::entity {
class WorldModel;
}

namespace harmonize {

enum class FieldKind : u8 {
    Int32,
    Float32,
    UInt8,
    UInt64,
    UInt32,
    Entity, // a u32 entity handle; level sources name the entity
    EntityIndex, // a u16 entity slot index; level sources name the entity
};

struct ComponentField {
    const char* name;
    FieldKind kind;
    u16 offset;
    u16 count; // elements of the kind
    const f32* defaults; // `count` values a level source starts from; null: zero
};

struct ComponentLayout {
    const char* name;
    u16 size;
    const ComponentField* fields; // in offset order, covering every byte
    u32 fieldCount;
};

u32 fieldElementSize(FieldKind kind);
const ComponentLayout& componentLayout(u32 type);
// Null when the type has no such field.
const ComponentField* findComponentField(const ComponentLayout& layout, const char* name);
// Writes the fields' defaults into a record of the layout's size (zero elsewhere).
void fillComponentDefaults(const ComponentLayout& layout, void* record);

// Element `index` of a field in a record. Integers are cut to the field's width
// and turned into floats for float fields; floats are truncated for integer
// fields.
void writeFieldInteger(const ComponentField& field, void* record, u32 index, u64 value);
void writeFieldFloat(const ComponentField& field, void* record, u32 index, f64 value);

// The game's component model: 110 types named and laid out as above, with the
// world name `worldName`.
void describeComponentModel(quern::entity::WorldModel& model, const char* worldName);

} // namespace harmonize

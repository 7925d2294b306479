#include "quern/entity/WorldModel.h"

#include "quern/entity/ComponentMask.h"
#include "quern/io/ByteSource.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/serialize/PODToken.h"
#include "quern/serialize/PODUtility.h"
#include "quern/strings/Format.h"
#include "quern/strings/Hashes.h"
#include "quern/strings/StringInterner.h"

#include <cstring>

namespace quern::entity {

namespace {

using serialize::PODComponent;
using serialize::PODKind;

using serialize::kU8Descriptor;

const char* shownName(const char* fileName) { return fileName && fileName[0] ? fileName : "<unnamed>"; }

struct AttributeLayout {
    bool known;
    u32 elementSize;
    u32 alignment;
    PODKind kind;
    u8 bits;
};

AttributeLayout layoutOf(ComponentAttribute::Type type)
{
    switch (type) {
    case ComponentAttribute::Type::Int32:
        return { true, 4, 4, PODKind::Signed, 32 };
    case ComponentAttribute::Type::Float32:
        return { true, 4, 4, PODKind::Float, 32 };
    case ComponentAttribute::Type::UInt8:
        return { true, 1, 1, PODKind::Unsigned, 8 };
    case ComponentAttribute::Type::UInt64:
        return { true, 8, 4, PODKind::Unsigned, 64 };
    case ComponentAttribute::Type::UInt32:
        return { true, 4, 4, PODKind::Unsigned, 32 };
    case ComponentAttribute::Type::Id64:
        return { true, 8, 4, PODKind::Unsigned, 64 };
    }
    return { false, 0, 1, PODKind::Skip, 0 };
}

u64 paddingFor(u64 size, u64 alignment) { return (alignment - size % alignment) % alignment; }

u8 readByte(ByteSource& source, serialize::PODToken& token)
{
    u8 value = 0;
    token.readPOD(source, &value, 1, &kU8Descriptor);
    return value;
}

} // namespace

WorldModel::WorldModel(memory::Allocator* allocator)
    : name("")
    , types(sizeof(ComponentTypeDescription), alignof(ComponentTypeDescription), allocator)
    , typeLookup(sizeof(ComponentTypeDescription*), alignof(ComponentTypeDescription*), allocator)
    , m_allocator(allocator ? allocator : memory::getDefaultAllocator())
    , m_texts(strings::StringInterner::create(m_allocator))
{
    if (!m_texts)
        QUERN_OUT_OF_MEMORY();
    types.reserve(kMaxComponentTypes);
}

WorldModel::~WorldModel()
{
    clear();
    types.release();
    typeLookup.release();
    strings::StringInterner::destroy(m_allocator, m_texts);
}

void WorldModel::clear()
{
    for (u64 i = 0; i < types.count(); ++i)
        if (type(i).attributes)
            m_allocator->free(type(i).attributes);
    types.clear();
    typeLookup.clear();
    m_texts->clear();
    name = "";
}

const char* WorldModel::keepText(const char* text)
{
    const u64 length = std::strlen(text);
    return m_texts->intern(text, length, strings::murmurHash64A(text, length, m_texts->seed()));
}

void WorldModel::setName(const char* text) { name = keepText(text); }

ComponentTypeDescription& WorldModel::addType(
    const char* typeName, const char* text1, const char* text2, u32 attributeCount)
{
    ComponentTypeDescription description {};
    description.name = keepText(typeName);
    description.texts[0] = keepText(text1);
    description.texts[1] = keepText(text2);
    description.attributeCount = attributeCount;
    description.byteIndex = ComponentTypeDescription::kNoIndex;
    if (attributeCount > 0) {
        description.attributes = static_cast<ComponentAttribute*>(
            m_allocator->allocate(sizeof(ComponentAttribute) * attributeCount, alignof(ComponentAttribute)));
        if (!description.attributes)
            QUERN_OUT_OF_MEMORY();
        for (u32 a = 0; a < attributeCount; ++a)
            description.attributes[a] = ComponentAttribute { ComponentAttribute::Type::Int32, 0, { false, false }, "" };
    }
    return types.append(description);
}

void WorldModel::setAttribute(ComponentTypeDescription& description, u32 index, ComponentAttribute::Type valueType,
    u32 elementCount, bool flag1, bool flag2, const char* attributeName)
{
    description.attributes[index]
        = ComponentAttribute { valueType, elementCount, { flag1, flag2 }, keepText(attributeName) };
}

void readWorldModel(ByteSource& source, serialize::PODToken& token, WorldModel& model, const char* fileName)
{
    const u32 start = serialize::expectChunk(source, token, kWorldModelChunkId);
    char text[kWorldFileTextCapacity];
    char extra1[kWorldFileTextCapacity];
    char extra2[kWorldFileTextCapacity];
    token.readString(source, text, sizeof text);
    model.setName(text);

    u32 typeCount = 0;
    token.readPOD(source, &typeCount, 1, &serialize::kU32Descriptor);
    if (typeCount > kMaxComponentTypes)
        QUERN_FATAL(strings::format<1280>("World file %s has %u component types; at most %u are supported",
            shownName(fileName), typeCount, kMaxComponentTypes));

    for (u32 t = 0; t < typeCount; ++t) {
        token.readString(source, text, sizeof text);
        token.readString(source, extra1, sizeof extra1);
        token.readString(source, extra2, sizeof extra2);
        const u32 attributeCount = readByte(source, token);
        ComponentTypeDescription& description = model.addType(text, extra1, extra2, attributeCount);
        for (u32 a = 0; a < attributeCount; ++a) {
            token.readString(source, text, sizeof text);
            const u8 valueType = readByte(source, token);
            u32 elementCount = 0;
            token.readPOD(source, &elementCount, 1, &serialize::kU32Descriptor);
            const bool flag1 = readByte(source, token) != 0;
            const bool flag2 = readByte(source, token) != 0;
            // A descriptor field counts elements in 16 bits.
            if (elementCount > 0xffff)
                QUERN_FATAL(strings::format<1280>(
                    "World file %s: attribute %s of component %s has %u elements; at most 65535 are supported",
                    shownName(fileName), text, description.name, elementCount));
            model.setAttribute(
                description, a, static_cast<ComponentAttribute::Type>(valueType), elementCount, flag1, flag2, text);
        }
        // The World keeps component sizes in 16 bits.
        const u64 size = componentByteSize(description);
        if (size > 0xffff)
            QUERN_FATAL(strings::format<1280>("World file %s: component %s is %llu bytes; at most 65535 are supported",
                shownName(fileName), description.name, static_cast<unsigned long long>(size)));
    }
    token.endReadChunk(source, start);
}

u64 componentByteSize(const ComponentTypeDescription& type)
{
    if (type.attributeCount == 0)
        return 1;
    u64 size = 0;
    u64 largest = 1;
    for (u32 a = 0; a < type.attributeCount; ++a) {
        const ComponentAttribute& attribute = type.attributes[a];
        const AttributeLayout layout = layoutOf(attribute.type);
        if (!layout.known)
            continue;
        size += paddingFor(size, layout.alignment);
        size += u64 { layout.elementSize } * attribute.elementCount;
        if (layout.alignment > largest)
            largest = layout.alignment;
    }
    return size + paddingFor(size, largest);
}

void computeComponentSizes(const WorldModel& model, u16* sizes)
{
    for (u64 t = 0; t < model.typeCount(); ++t)
        sizes[t] = static_cast<u16>(componentByteSize(model.type(t)));
}

void buildComponentDescriptor(const ComponentTypeDescription& type, ComponentDescriptor& out)
{
    u16 fieldCount = 0;
    if (type.attributeCount == 0) {
        out.fields[fieldCount++] = PODComponent { 1, PODKind::Skip, 8 };
        out.descriptor = serialize::PODTypeDescriptor { fieldCount, out.fields };
        return;
    }
    u64 size = 0;
    u64 largest = 1;
    for (u32 a = 0; a < type.attributeCount; ++a) {
        const ComponentAttribute& attribute = type.attributes[a];
        const AttributeLayout layout = layoutOf(attribute.type);
        if (!layout.known)
            QUERN_FATAL_INVALID_ENUM("ComponentAttribute::Type");
        const u64 padding = paddingFor(size, layout.alignment);
        if (padding != 0)
            out.fields[fieldCount++] = PODComponent { 1, PODKind::Skip, static_cast<u8>(padding * 8) };
        out.fields[fieldCount++]
            = PODComponent { static_cast<u16>(attribute.elementCount & 0xffff), layout.kind, layout.bits };
        size += padding + u64 { layout.elementSize } * attribute.elementCount;
        if (layout.alignment > largest)
            largest = layout.alignment;
    }
    const u64 tail = paddingFor(size, largest);
    if (tail != 0)
        out.fields[fieldCount++] = PODComponent { 1, PODKind::Skip, static_cast<u8>(tail * 8) };
    out.descriptor = serialize::PODTypeDescriptor { fieldCount, out.fields };
}

} // namespace quern::entity

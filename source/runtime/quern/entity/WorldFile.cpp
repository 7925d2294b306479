#include "quern/entity/WorldFile.h"

#include "quern/entity/World.h"
#include "quern/entity/WorldModel.h"
#include "quern/io/ByteSource.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/serialize/PODToken.h"
#include "quern/serialize/PODUtility.h"
#include "quern/serialize/StringInternerSerialization.h"
#include "quern/strings/Format.h"
#include "quern/strings/Hashes.h"
#include "quern/strings/StringInterner.h"

#include <cstring>

namespace quern::entity {

namespace {

using serialize::PODComponent;
using serialize::PODKind;

using serialize::kU8Descriptor;

// Slot index 0xffff means "no entity", so a world addresses one fewer.
constexpr u64 kMaxFileEntities = 0xffff;

const char* shownName(const char* fileName) { return fileName && fileName[0] ? fileName : "<unnamed>"; }

// The entity names of the world by key, so that a level of thousands of
// named entities interns each name without scanning every name before it.
// Holds the texts the world's name interner stores; the interner stays the
// owner and the one place names live.
class NameIndex {
public:
    NameIndex(strings::StringInterner& interner, u64 expectedNames)
        : m_interner(interner)
        , m_allocator(memory::getDefaultAllocator())
    {
        u64 capacity = 16;
        while (capacity < 2 * (interner.count() + expectedNames))
            capacity *= 2;
        m_slots = static_cast<Slot*>(m_allocator->allocate(sizeof(Slot) * capacity, alignof(Slot)));
        if (!m_slots)
            QUERN_OUT_OF_MEMORY();
        m_mask = capacity - 1;
        for (u64 i = 0; i < capacity; ++i)
            m_slots[i] = Slot { 0, nullptr };
        for (u64 i = 0; i < interner.count(); ++i)
            find(interner.key(i)) = Slot { interner.key(i), interner.text(i) };
    }
    ~NameIndex() { m_allocator->free(m_slots); }
    NameIndex(const NameIndex&) = delete;
    NameIndex& operator=(const NameIndex&) = delete;

    // The stored text of `name`, interning it when it is new.
    const char* intern(const char* name)
    {
        const u64 length = std::strlen(name);
        const u64 key = strings::murmurHash64A(name, length, m_interner.seed());
        Slot& slot = find(key);
        if (!slot.text) {
            m_interner.appendEntry(name, length, key);
            slot = Slot { key, m_interner.text(m_interner.count() - 1) };
        }
        return slot.text;
    }

private:
    struct Slot {
        u64 key;
        const char* text; // null: empty
    };

    Slot& find(u64 key)
    {
        u64 at = (key ^ (key >> 29)) & m_mask;
        while (m_slots[at].text && m_slots[at].key != key)
            at = (at + 1) & m_mask;
        return m_slots[at];
    }

    strings::StringInterner& m_interner;
    memory::Allocator* m_allocator;
    Slot* m_slots;
    u64 m_mask;
};

// What one load needs besides the token: the model, and the descriptor of
// each component type, built the first time a component of the type is read.
class WorldReader {
public:
    WorldReader(ByteSource& source, serialize::PODToken& token, World& world, const char* fileName)
        : m_source(source)
        , m_token(token)
        , m_world(world)
        , m_fileName(shownName(fileName))
        , m_descriptorAllocator(memory::getDefaultAllocator())
    {
    }
    ~WorldReader()
    {
        for (ComponentDescriptor* descriptor : m_descriptors)
            if (descriptor)
                m_descriptorAllocator->free(descriptor);
    }
    WorldReader(const WorldReader&) = delete;
    WorldReader& operator=(const WorldReader&) = delete;

    WorldModel& model() { return m_model; }
    void readEntity(u32 entityIndex, NameIndex& names);

private:
    u8 readByte()
    {
        u8 value = 0;
        m_token.readPOD(m_source, &value, 1, &kU8Descriptor);
        return value;
    }
    const serialize::PODTypeDescriptor& descriptorFor(u32 type);

    ByteSource& m_source;
    serialize::PODToken& m_token;
    World& m_world;
    const char* m_fileName;
    memory::Allocator* m_descriptorAllocator;
    WorldModel m_model;
    ComponentDescriptor* m_descriptors[kMaxComponentTypes] = {};
};

const serialize::PODTypeDescriptor& WorldReader::descriptorFor(u32 type)
{
    if (!m_descriptors[type]) {
        auto* built = static_cast<ComponentDescriptor*>(
            m_descriptorAllocator->allocate(sizeof(ComponentDescriptor), alignof(ComponentDescriptor)));
        if (!built)
            QUERN_OUT_OF_MEMORY();
        // Kept before it is built: the reader frees it whichever way reading ends.
        m_descriptors[type] = built;
        buildComponentDescriptor(m_model.type(type), *built);
        const u64 size = built->descriptor.byteSize();
        if (size > m_world.componentSizes[type]) {
            QUERN_FATAL(
                strings::format<1280>("World file %s: component %s needs %llu bytes but the world's type %u holds %u",
                    m_fileName, m_model.type(type).name, static_cast<unsigned long long>(size), type,
                    static_cast<u32>(m_world.componentSizes[type])));
        }
    }
    return m_descriptors[type]->descriptor;
}

void WorldReader::readEntity(u32 entityIndex, NameIndex& names)
{
    const EntityHandle handle = m_world.createEntity();
    const u16 slot = handle.index();
    char name[kWorldFileTextCapacity];
    m_token.readString(m_source, name, sizeof name);
    m_world.setInternedEntityName(handle, names.intern(name));

    ComponentMask enabled;
    m_token.readPOD(m_source, enabled.words, 2, &serialize::kU64Descriptor);

    u32 componentCount = 0;
    m_token.readPOD(m_source, &componentCount, 1, &serialize::kU32Descriptor);
    ComponentMask& has = m_world.getComponentMask(slot);
    for (u32 c = 0; c < componentCount; ++c) {
        const u32 type = readByte();
        // Checked before anything is written: the index addresses the store.
        if (type >= m_model.typeCount() || type >= m_world.componentTypeCount)
            QUERN_FATAL(strings::format<1280>(
                "World file %s: entity %u (%s) has a component of type %u; the file has %llu types, the world %llu",
                m_fileName, entityIndex, name, type, static_cast<unsigned long long>(m_model.typeCount()),
                static_cast<unsigned long long>(m_world.componentTypeCount)));
        const bool hasValue = m_model.type(type).attributeCount > 0;
        const serialize::PODTypeDescriptor* descriptor = hasValue ? &descriptorFor(type) : nullptr;
        has.set(type);
        void* component = m_world.getComponent(slot, type);
        std::memset(component, 0, m_world.componentSizes[type]);
        if (descriptor)
            m_token.readPOD(m_source, component, 1, descriptor);
    }
    m_world.getEnabledMask(slot) = enabled;
}

} // namespace

void loadWorld(ByteSource& source, serialize::PODToken& token, World& world, u64 extraCapacity,
    memory::Allocator* allocator, const char* fileName)
{
    const u32 outer = serialize::expectChunk(source, token, 0);
    WorldReader reader(source, token, world, fileName);
    readWorldModel(source, token, reader.model(), fileName);

    u32 entityCount = 0;
    token.readPOD(source, &entityCount, 1, &serialize::kU32Descriptor);
    if (entityCount > kMaxFileEntities)
        QUERN_FATAL(strings::format<1280>("World file %s has %u entities; a world holds at most %llu",
            shownName(fileName), entityCount, static_cast<unsigned long long>(kMaxFileEntities)));

    if (!world.hasComponentStore()) {
        u16 sizes[kMaxComponentTypes] = {};
        computeComponentSizes(reader.model(), sizes);
        world.allocateComponentStore(sizes, reader.model().typeCount(), entityCount + extraCapacity, allocator);
    }

    NameIndex names(*world.entityNames, entityCount);
    for (u32 e = 0; e < entityCount; ++e) {
        u64 id = 0;
        const u32 start = token.beginReadChunk(source, &id);
        if (id == kEntityChunkId)
            reader.readEntity(e, names);
        token.endReadChunk(source, start);
    }

    serialize::readStringInterner(source, token, *world.texts);
    token.readPOD(source, world.localizationAssetIds, World::kLanguageCount, &serialize::kU64Descriptor);
    token.endReadChunk(source, outer);
}

} // namespace quern::entity

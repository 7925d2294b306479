#pragma once
// The base of cached objects that own device data (textures, shader programs)
// and of the providers registered with a resource cache. A resource keeps the
// names it was cached under, a change stamp that moves whenever its contents
// change, and a state through which a display change releases and recreates
// its device data while the contents stay in memory.

#include "quern/Types.h"
#include "quern/language/RefCounted.h"

#include <iosfwd>
#include <string>

namespace quern::assets {

// The names a cached resource is known by: the asset's name, the name of the
// file it was built from, and the byte count of its stored form.
class ResourceEntry : public RefCounted {
public:
    ResourceEntry(std::string name, std::string sourceName, u64 size)
        : m_name(std::move(name)), m_sourceName(std::move(sourceName)), m_size(size)
    {
    }

    const std::string& name() const { return m_name; }
    const std::string& sourceName() const { return m_sourceName; }
    u64 size() const { return m_size; }

private:
    std::string m_name;
    std::string m_sourceName;
    u64 m_size;
};

// What a resource loads its contents from: the asset's bytes and the entry
// that names the asset (null when the stream has no entry).
struct AssetStream {
    std::streambuf* buffer = nullptr;
    const ResourceEntry* entry = nullptr;
};

class Resource : public RefCounted {
public:
    enum State : u8 {
        New = 0,
        Loaded = 2,    // device data present
        Suspended = 3, // device data released, contents kept
    };

    Resource();
    // Shares the entry, takes a new stamp and starts new.
    Resource(const Resource& other);
    Resource& operator=(const Resource&) = delete;
    ~Resource() override;

    // The object holding the resource's data (a texture answers its pixel buffer).
    virtual void* getData() = 0;
    // Bytes the resource occupies.
    virtual u64 getMemorySize() = 0;
    // The entry's name, "" without an entry.
    virtual const char* getName() const;
    // Fills the resource from an asset stream; the base reads nothing.
    virtual void loadImpl(AssetStream& stream);
    virtual void releaseDeviceData() {}
    virtual void restoreDeviceData() {}

    // Loaded: releases device data, becomes suspended, takes a new stamp.
    // Any other state: nothing.
    virtual void suspend();
    // Suspended: restores device data, becomes loaded, takes a new stamp.
    // Any other state: nothing.
    void resume();

    const Ref& entry() const { return m_entry; }
    const ResourceEntry* entryObject() const { return m_entry.get<ResourceEntry>(); }
    void setEntry(const Ref& entry) { m_entry = entry; }

    u32 changeStamp() const { return m_changeStamp; }
    // Marks the contents changed.
    void touch() { m_changeStamp = nextChangeStamp(); }
    State state() const { return m_state; }
    void setState(State state) { m_state = state; }

    // The next value of the process-wide stamp counter: one more than the last
    // one handed out on any thread.
    static u32 nextChangeStamp();

private:
    Ref m_entry;
    u32 m_changeStamp;
    State m_state = New;
};

} // namespace quern::assets

#pragma once
// A depot over texts and images compiled into the executable. The built-in
// materials register their shader programs through it, and the default
// textures their images: each is added under the hash of its name and loaded
// through the ordinary asset path, so it ends up as a cached resource like any
// other asset. The bytes are not copied; the depot only points at them.

#include "quern/Types.h"
#include "quern/assets/Depot.h"
#include "quern/containers/Array.h"
#include "quern/containers/HandleTable.h"

namespace quern::graphics {

struct EmbeddedSource {
    const char* data;
    u64 length;
    u64 key; // MurmurHash64A of the program name, seed 0
};

class EmbeddedSourceDepot final : public assets::Depot {
public:
    // What open returns for a key the depot does not hold.
    static constexpr u32 kInvalidHandle = containers::HandleTable::kInvalidHandle;

    EmbeddedSourceDepot();
    ~EmbeddedSourceDepot() override;
    EmbeddedSourceDepot(const EmbeddedSourceDepot&) = delete;
    EmbeddedSourceDepot& operator=(const EmbeddedSourceDepot&) = delete;

    // Adds `length` bytes at `data` (which must outlive the depot) under the
    // hash of `name`.
    void add(const char* data, u64 length, const char* name);

    // The first entry whose key is `key`, positioned at 0; kInvalidHandle when
    // no entry has that key. An invalid handle reads nothing and has size 0.
    u32 open(u64 key) override;
    // Frees an open handle; an invalid or stale one changes nothing.
    void close(u32 handle) override;
    u64 read(u32 handle, u64 count, void* destination) override;
    u64 size(u32 handle) override;
    // Positions past the end are kept; reads there return 0.
    void seek(u32 handle, u64 position) override;

    u64 entryCount() const { return m_entries.count(); }
    u64 openCount() const { return m_openSources.slotCount() - m_openSources.freeCount(); }

    static u64 keyOf(const char* name);

private:
    // The entry by index: adding entries may move the array.
    struct OpenSource {
        u64 entry;
        u64 cursor;
    };

    OpenSource* find(u32 handle);
    const EmbeddedSource& entryOf(const OpenSource& source) const { return m_entries.at<EmbeddedSource>(source.entry); }

    containers::Array m_entries;
    containers::HandleTable m_openSources;
};

} // namespace quern::graphics

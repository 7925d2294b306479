#pragma once
// A depot over assets held in memory, keyed by asset name, for loading tests
// and benchmarks that need no files.

#include "quern/Types.h"
#include "quern/assets/Depot.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/Hashes.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace quern::graphics::testing {

class MemoryDepot final : public assets::Depot {
public:
    static u64 assetId(const std::string& name) { return strings::murmurHash64A(name.data(), name.size(), 0); }

    // Adds (or replaces) an asset and returns its id.
    u64 add(const std::string& name, std::vector<u8> bytes)
    {
        const u64 id = assetId(name);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_assets[id] = std::move(bytes);
        return id;
    }

    u32 open(u64 id) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_assets.count(id))
            QUERN_FATAL("MemoryDepot: unknown asset");
        const u32 handle = ++m_lastHandle;
        m_open[handle] = Entry { &m_assets[id], 0 };
        return handle;
    }
    void close(u32 handle) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open.erase(handle);
    }
    u64 read(u32 handle, u64 count, void* destination) override
    {
        Entry& entry = find(handle);
        const u64 size = entry.bytes->size();
        const u64 taken = entry.position < size ? std::min(count, size - entry.position) : 0;
        if (taken)
            std::memcpy(destination, entry.bytes->data() + entry.position, taken);
        entry.position += taken;
        return taken;
    }
    u64 size(u32 handle) override { return find(handle).bytes->size(); }
    void seek(u32 handle, u64 position) override { find(handle).position = position; }

    u64 openCount()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_open.size();
    }

private:
    struct Entry {
        const std::vector<u8>* bytes = nullptr;
        u64 position = 0;
    };

    Entry& find(u32 handle)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_open.find(handle);
        if (it == m_open.end())
            QUERN_FATAL("MemoryDepot: handle not open");
        return it->second;
    }

    std::mutex m_mutex;
    std::map<u64, std::vector<u8>> m_assets;
    std::map<u32, Entry> m_open;
    u32 m_lastHandle = 0;
};

} // namespace quern::graphics::testing

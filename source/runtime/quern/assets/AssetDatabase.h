#pragma once
// The catalogue of every asset the game can load ("assets.db"): one record per
// asset with its name, id and resource type, the direct dependencies between
// assets, and a string table. Read once at start-up, then only read.

#include "quern/Types.h"
#include "quern/containers/Array.h"
#include "quern/memory/Allocator.h"
#include "quern/strings/String.h"
#include "quern/strings/StringInterner.h"

#include <map>

namespace quern {
class ByteSource;
}
namespace quern::serialize {
class PODToken;
}

namespace quern::assets {

inline constexpr u64 kAssetDatabaseChunkId = 0x03c584e477620154ull;
inline constexpr u32 kAssetDatabaseVersion = 2;
inline constexpr u64 kAssetNameCapacity = 256;

// Kept exactly as read.
struct AssetRecord {
    char name[kAssetNameCapacity]; // zero-terminated
    u64 assetId;                   // 0: left out of the id map
    u64 typeId;                    // 0: nothing to load
    u64 values[3];                 // stored, not interpreted
    u32 gameValue;                 // read by the game from the level it starts
    u32 reserved;
};
static_assert(sizeof(AssetRecord) == 304);

struct DependencyPair {
    u64 assetId;
    u64 dependencyId;
};
static_assert(sizeof(DependencyPair) == 16);

struct AssetExtraRecord {
    u64 values[3];
};
static_assert(sizeof(AssetExtraRecord) == 24);

class AssetDatabase {
public:
    // An empty database whose tables use `allocator` (null: the default one).
    explicit AssetDatabase(memory::Allocator* allocator = nullptr);
    AssetDatabase(const AssetDatabase&) = delete;
    AssetDatabase& operator=(const AssetDatabase&) = delete;

    // The record of `id`; the first in file order when several share it;
    // null when no record has it.
    const AssetRecord* findAsset(u64 id) const;
    const char* getAssetName(u64 id) const;
    // Every asset `id` depends on, directly or indirectly, each once, in
    // depth-first pre-order, appended to `out` (an Array of u64).
    void collectDependencies(u64 id, containers::Array& out) const;
    // The id of the world script asset, or 0 when the database has none.
    u64 findWorldScript() const;

    const strings::String& name() const { return m_name; }
    u64 recordCount() const { return m_records.count(); }
    const AssetRecord& record(u64 index) const { return m_records.at<AssetRecord>(index); }
    u64 dependencyCount() const { return m_dependencies.count(); }
    const DependencyPair& dependency(u64 index) const { return m_dependencies.at<DependencyPair>(index); }
    u64 extraRecordCount() const { return m_extraRecords.count(); }
    const AssetExtraRecord& extraRecord(u64 index) const { return m_extraRecords.at<AssetExtraRecord>(index); }
    const strings::StringInterner& strings() const { return m_strings; }

private:
    friend bool readAssetDatabase(ByteSource& source, serialize::PODToken& token, AssetDatabase& database,
                                  const char* fileName);
    void clear();
    void buildIndex();

    strings::String m_name;
    std::map<u64, u64> m_idMap;
    containers::Array m_records;
    containers::Array m_dependencies;
    containers::Array m_extraRecords;
    strings::StringInterner m_strings;
};

// Reads "assets.db" from the source into `database` with `token`. False only
// for a version other than 2. Malformed contents (a wrong chunk, a short read,
// counts the file cannot hold, a name without its terminator) are fatal,
// naming `fileName`.
bool readAssetDatabase(ByteSource& source, serialize::PODToken& token, AssetDatabase& database,
                       const char* fileName = "assets.db");

} // namespace quern::assets

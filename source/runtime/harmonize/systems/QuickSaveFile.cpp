#include "harmonize/systems/QuickSaveFile.h"

#include "harmonize/input/MemoryByteSink.h"
#include "quern/LittleEndian.h"
#include "quern/debug/Log.h"
#include "quern/entity/World.h"
#include "quern/entity/WorldSnapshot.h"
#include "quern/io/ByteSink.h"
#include "quern/io/StringSource.h"
#include "quern/io/UserStorage.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"

#include <ostream>

namespace harmonize {
namespace {

using quern::entity::ComponentMask;
using quern::entity::World;
using quern::entity::WorldSnapshot;

constexpr u64 kSlotRecordBytes = 1 + sizeof(ComponentMask);
constexpr const char* kWrongLevel = "Persistent snapshot has the wrong size for this level, discarding save";

void writeLittleEndian(quern::ByteSink& sink, u64 value, quern::u32 bytes)
{
    u8 raw[8] = {};
    quern::writeLittleEndian(raw, value, bytes);
    sink.write(raw, bytes);
}

// Empty blocks are skipped: a sink may take a null pointer for a text.
void writeBytes(quern::ByteSink& sink, const void* data, u64 size)
{
    if (size > 0)
        sink.write(data, size);
}

// The longest file a world can take: every slot of its capacity saved.
u64 largestQuickSave(const World& world)
{
    return kQuickSaveFixedBytes + world.storeSize + world.getCapacity() * kSlotRecordBytes;
}

QuickSaveCheck damaged(const char* reason)
{
    QuickSaveCheck check;
    check.verdict = QuickSaveVerdict::Damaged;
    check.reason.print("%s", reason);
    return check;
}

} // namespace

void encodeQuickSave(const WorldSnapshot& snapshot, u64 levelAssetId, quern::ByteSink& sink)
{
    writeLittleEndian(sink, snapshot.slotCount, 4);
    writeLittleEndian(sink, snapshot.storeSize, 8);
    writeBytes(sink, snapshot.store, snapshot.storeSize);
    writeBytes(sink, snapshot.states, snapshot.slotCount);
    for (u64 j = 0; j < snapshot.slotCount; ++j) {
        writeLittleEndian(sink, snapshot.enabledMasks[j].words[0], 8);
        writeLittleEndian(sink, snapshot.enabledMasks[j].words[1], 8);
    }
    writeLittleEndian(sink, levelAssetId, 8);
}

bool writeQuickSaveFile(const WorldSnapshot& snapshot, u64 levelAssetId, quern::io::UserStorage& files, const char* name)
{
    MemoryByteSink sink;
    encodeQuickSave(snapshot, levelAssetId, sink);
    const quern::io::UserStorageResult result
        = files.write(name, sink.bytes.c_str(), sink.bytes.length(), 0, nullptr);
    if (result.code != quern::io::UserStorageError::NoError) {
        QUERN_LOG(1) << "Can't write the quick save '" << name << "': " << result.message << std::endl;
        return false;
    }
    return true;
}

QuickSaveCheck checkQuickSave(const u8* bytes, u64 size, const World& world, u64 levelAssetId)
{
    if (size < kQuickSaveFixedBytes)
        return damaged("shorter than its fixed fields");
    const u64 slotCount = quern::readLittleEndian32(bytes);
    const u64 storeSize = quern::readLittleEndian64(bytes + 4);
    // Each term is checked against what remains, so no sum can wrap.
    const u64 variable = size - kQuickSaveFixedBytes;
    const u64 slotBytes = slotCount * kSlotRecordBytes;
    if (slotBytes > variable || variable - slotBytes != storeSize)
        return damaged("its length doesn't match its slot count and store size");
    if (quern::readLittleEndian64(bytes + size - 8) != levelAssetId || storeSize != world.storeSize) {
        QuickSaveCheck check;
        check.verdict = QuickSaveVerdict::OtherLevel;
        return check;
    }
    quern::StringSource stream(bytes, size - 8);
    const auto fault = quern::entity::findWorldSnapshotFault(stream, world);
    if (fault.c_str()[0] != 0)
        return damaged(fault.c_str());
    return {};
}

bool readQuickSave(const u8* bytes, u64 size, WorldSnapshot& snapshot, quern::memory::Allocator* allocator,
    World& world, u64 levelAssetId)
{
    const QuickSaveCheck check = checkQuickSave(bytes, size, world, levelAssetId);
    switch (check.verdict) {
    case QuickSaveVerdict::Fits: break;
    case QuickSaveVerdict::OtherLevel: QUERN_LOG(2) << kWrongLevel << std::endl; return false;
    case QuickSaveVerdict::Damaged:
        QUERN_LOG(2) << "Damaged quick save (" << check.reason.c_str() << "), discarding save" << std::endl;
        return false;
    }
    quern::StringSource stream(bytes, size - 8);
    quern::entity::readWorldSnapshot(stream, snapshot, allocator, world);
    return true;
}

bool readQuickSaveFile(WorldSnapshot& snapshot, quern::io::UserStorage& files, const char* name,
    quern::memory::Allocator* allocator, World& world, u64 levelAssetId)
{
    const quern::io::UserStorageResult size = files.fileSize(name, nullptr);
    if (size.code != quern::io::UserStorageError::NoError || size.value == 0)
        return false;
    // A file longer than any save of this world cannot be restored into it:
    // it is turned away unread, whatever its length claims.
    if (size.value > largestQuickSave(world)) {
        QUERN_LOG(2) << kWrongLevel << std::endl;
        return false;
    }
    quern::memory::Allocator* heap = quern::memory::getDefaultAllocator();
    u8* buffer = static_cast<u8*>(heap->allocate(size.value, 4));
    if (!buffer)
        QUERN_OUT_OF_MEMORY();
    const quern::io::UserStorageResult read = files.read(name, buffer, size.value, nullptr);
    bool restored = false;
    if (read.code != quern::io::UserStorageError::NoError)
        quern::debug::softAssert(read.message, "", __FILE__, __LINE__);
    else
        restored = readQuickSave(buffer, size.value, snapshot, allocator, world, levelAssetId);
    heap->free(buffer);
    return restored;
}

} // namespace harmonize

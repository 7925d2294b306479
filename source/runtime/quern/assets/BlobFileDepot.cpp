#include "quern/assets/BlobFileDepot.h"

#include "quern/io/FileUtility.h"
#include "quern/language/Exception.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/platform/FileSystem.h"
#include "quern/strings/Format.h"
#include "quern/strings/PackedName.h"
#include "quern/LittleEndian.h"

#include <algorithm>
#include <cstring>

namespace quern::assets {
namespace {

[[noreturn]] void failIndex()
{
    QUERN_FATAL("Invalid asset blob index");
}

BlobIndexEntry parseEntry(const u8* p)
{
    BlobIndexEntry e;
    e.assetId = readLittleEndian64(p);
    e.offset = readLittleEndian64(p + 8);
    e.storedSize = readLittleEndian64(p + 16);
    e.assetSize = readLittleEndian64(p + 24);
    e.blobId = readLittleEndian64(p + 32);
    e.reserved = readLittleEndian64(p + 40);
    e.compressionTag = readLittleEndian32(p + 48);
    e.reserved2 = readLittleEndian32(p + 52);
    return e;
}

} // namespace

BlobFileDepot::BlobFileDepot()
    : m_entries(sizeof(OpenEntry), alignof(OpenEntry)), m_index(sizeof(BlobIndexEntry), alignof(BlobIndexEntry)),
      m_lookup(sizeof(IdPosition), alignof(IdPosition)), m_slots(sizeof(BlobSlot), alignof(BlobSlot))
{
}

BlobFileDepot::~BlobFileDepot()
{
    for (u64 i = 0; i < m_slots.count(); ++i) {
        FILE* file = m_slots.at<BlobSlot>(i).file;
        if (file && std::fclose(file) != 0) {
            std::perror("fclose");
            QUERN_FATAL("fclose failed");
        }
    }
}

void BlobFileDepot::openIndex(const char* directory)
{
    std::strncpy(m_directory, directory ? directory : "", kMaxDirectoryLength);
    const strings::format<kMaxDirectoryLength + 32> path("%s/assets.index", m_directory);

    u64 fileSize = 0;
    if (platform::getFileSize(path, fileSize) != platform::FileStatus::Success || fileSize < kIndexHeaderSize)
        failIndex();
    FILE* file = io::openFileUtf8(path, "rb");
    if (!file)
        failIndex();
    u8 header[kIndexHeaderSize];
    bool valid = std::fread(header, 1, sizeof header, file) == sizeof header;
    const u32 count = valid ? readLittleEndian32(header + 8) : 0;
    valid = valid && readLittleEndian32(header) == kIndexMagic && readLittleEndian32(header + 4) == kIndexVersion && count != 0 &&
            fileSize - kIndexHeaderSize >= u64{count} * kIndexEntrySize;
    containers::Array bytes(1, 8);
    if (valid) {
        bytes.expand(u64{count} * kIndexEntrySize);
        valid = std::fread(bytes.data(), 1, bytes.count(), file) == bytes.count();
    }
    std::fclose(file);
    if (!valid)
        failIndex();

    m_index.clear();
    m_index.reserve(count);
    for (u64 i = 0; i < count; ++i) {
        const BlobIndexEntry entry = parseEntry(bytes.dataAs<u8>() + i * kIndexEntrySize);
        m_index.push(&entry);
    }
    buildLookup();
}

void BlobFileDepot::buildLookup()
{
    m_lookup.clear();
    m_lookup.reserve(m_index.count());
    for (u64 i = 0; i < m_index.count(); ++i) {
        const IdPosition item{m_index.at<BlobIndexEntry>(i).assetId, i};
        m_lookup.push(&item);
    }
    IdPosition* first = m_lookup.dataAs<IdPosition>();
    // Ties keep index order, so a repeated id finds its first entry.
    std::sort(first, first + m_lookup.count(), [](const IdPosition& a, const IdPosition& b) {
        return a.assetId != b.assetId ? a.assetId < b.assetId : a.position < b.position;
    });
}

const BlobIndexEntry* BlobFileDepot::findEntry(u64 assetId) const
{
    const IdPosition* first = m_lookup.dataAs<IdPosition>();
    const IdPosition* last = first + m_lookup.count();
    const IdPosition* found = std::lower_bound(
        first, last, assetId, [](const IdPosition& item, u64 id) { return item.assetId < id; });
    if (found == last || found->assetId != assetId)
        return nullptr;
    return &m_index.at<BlobIndexEntry>(found->position);
}

void BlobFileDepot::blobFileName(u64 blobId, char* buffer, u64 bufferSize)
{
    char name[18] = "misc";
    if (blobId != 0)
        unpackNameToBuffer(blobId, name, sizeof name);
    std::snprintf(buffer, bufferSize, "%s.blob", name);
}

u64 BlobFileDepot::slotFor(u64 blobId)
{
    for (u64 i = 0; i < m_slots.count(); ++i)
        if (m_slots.at<BlobSlot>(i).blobId == blobId)
            return i;
    const BlobSlot slot{blobId, nullptr, 0, 0};
    m_slots.push(&slot);
    return m_slots.count() - 1;
}

u32 BlobFileDepot::open(u64 assetId)
{
    const BlobIndexEntry* entry = findEntry(assetId);
    if (!entry)
        QUERN_FATAL("Asset not found");

    debug::MutexLock lock(m_mutex);
    const u64 slotIndex = slotFor(entry->blobId);
    BlobSlot& slot = m_slots.at<BlobSlot>(slotIndex);
    if (!slot.file) {
        char name[32];
        blobFileName(entry->blobId, name, sizeof name);
        const strings::format<kMaxDirectoryLength + 40> path("%s/%s", m_directory, name);
        slot.file = io::openFile(path, io::FileMode::Read);
        slot.filePosition = 0;
    }
    ++slot.openCount;
    u32 handle = 0;
    OpenEntry* open = m_entries.allocate<OpenEntry>(handle);
    *open = OpenEntry{entry->offset, entry->storedSize, 0, slotIndex,
                      static_cast<u64>(entry - m_index.dataAs<BlobIndexEntry>())};
    return handle;
}

BlobFileDepot::OpenEntry& BlobFileDepot::openEntry(u32 handle)
{
    OpenEntry* found = m_entries.lookup<OpenEntry>(handle);
    if (!found)
        QUERN_FATAL("Invalid depot handle");
    return *found;
}

const BlobIndexEntry& BlobFileDepot::entryOf(u32 handle)
{
    debug::MutexLock lock(m_mutex);
    return m_index.at<BlobIndexEntry>(openEntry(handle).indexPosition);
}

void BlobFileDepot::close(u32 handle)
{
    debug::MutexLock lock(m_mutex);
    const u64 slot = openEntry(handle).slot;
    --m_slots.at<BlobSlot>(slot).openCount;
    m_entries.release(handle);
}

u64 BlobFileDepot::read(u32 handle, u64 count, void* destination)
{
    debug::MutexLock lock(m_mutex);
    OpenEntry& entry = openEntry(handle);
    // At or past the end (a seek may put the position there) nothing is left.
    if (entry.position >= entry.storedSize || count == 0)
        return 0;
    const u64 wanted = std::min(count, entry.storedSize - entry.position);
    BlobSlot& slot = m_slots.at<BlobSlot>(entry.slot);
    const u64 start = entry.offset + entry.position;
    if (start < entry.offset)
        QUERN_FATAL("fseek failed");
    if (slot.filePosition != start) {
        io::seekFile(slot.file, start, "fseek");
        slot.filePosition = start;
    }
    const u64 n = std::fread(destination, 1, wanted, slot.file);
    if (n != wanted) {
        // The stream's position is unknown after a short read: seek next time.
        std::clearerr(slot.file);
        slot.filePosition = ~u64{0};
    } else {
        slot.filePosition = start + n;
    }
    entry.position += n;
    return n;
}

u64 BlobFileDepot::size(u32 handle)
{
    debug::MutexLock lock(m_mutex);
    return openEntry(handle).storedSize;
}

void BlobFileDepot::seek(u32 handle, u64 position)
{
    debug::MutexLock lock(m_mutex);
    openEntry(handle).position = position;
}

u64 BlobFileDepot::blobFileCount()
{
    debug::MutexLock lock(m_mutex);
    u64 count = 0;
    for (u64 i = 0; i < m_slots.count(); ++i)
        count += m_slots.at<BlobSlot>(i).file != nullptr;
    return count;
}

i32 BlobFileDepot::openEntryCount(u64 blobId)
{
    debug::MutexLock lock(m_mutex);
    for (u64 i = 0; i < m_slots.count(); ++i)
        if (m_slots.at<BlobSlot>(i).blobId == blobId)
            return m_slots.at<BlobSlot>(i).openCount;
    return 0;
}

} // namespace quern::assets

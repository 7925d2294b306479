#include "quern/assets/BlobDepot.h"

#include "quern/io/LzhamDecompressor.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/Format.h"

#include <algorithm>
#include <cstring>

namespace quern::assets {

BlobDepot::BlobDepot()
    : m_records(sizeof(Record), alignof(Record))
{
}

BlobDepot::~BlobDepot()
{
    for (u64 i = 0; i < m_records.count(); ++i) {
        Record& r = m_records.at<Record>(i);
        if (r.buffer)
            m_allocator->free(r.buffer);
    }
}

void BlobDepot::openIndex(const char* directory) { m_files.openIndex(directory); }

u32 BlobDepot::open(u64 assetId)
{
    debug::MutexLock lock(m_mutex);
    if (!m_allocator)
        m_allocator = memory::getDefaultAllocator();
    const BlobIndexEntry* entry = m_files.findEntry(assetId);
    if (!entry)
        QUERN_FATAL("Asset not found");

    io::Decompressor* decompressor = nullptr;
    if (m_decompressor && entry->compressionTag == m_decompressor->formatTag())
        decompressor = m_decompressor;
    else if (entry->compressionTag == io::LzhamDecompressor::kFormatTag)
        // Served raw, compressed bytes would pass for the asset.
        QUERN_FATAL(strings::format<160>("Asset %016llx is LZHAM-compressed but the depot has no LZHAM decompressor",
            static_cast<unsigned long long>(assetId)));

    const u32 handle = m_files.open(assetId);
    const Record r { nullptr, decompressor, handle, entry->storedSize, entry->assetSize, 0, assetId };
    m_records.push(&r);
    return handle;
}

BlobDepot::Record* BlobDepot::findRecord(u32 handle)
{
    for (u64 i = 0; i < m_records.count(); ++i)
        if (m_records.at<Record>(i).handle == handle)
            return &m_records.at<Record>(i);
    return nullptr;
}

BlobDepot::Record& BlobDepot::record(u32 handle)
{
    Record* found = findRecord(handle);
    if (!found)
        QUERN_FATAL("Invalid depot handle");
    return *found;
}

u8* BlobDepot::expand(const Record& r)
{
    u8* buffer = static_cast<u8*>(m_allocator->allocate(std::max<u64>(r.assetSize, 1), 16));
    if (!buffer)
        QUERN_OUT_OF_MEMORY();

    containers::Array stored(r.storedSize, 1, 16, m_allocator);
    const u64 got = m_files.read(r.handle, r.storedSize, stored.data());
    if (got != r.storedSize)
        QUERN_FATAL(strings::format<160>("Short read of compressed asset %016llx: %llu of %llu bytes",
            static_cast<unsigned long long>(r.assetId), static_cast<unsigned long long>(got),
            static_cast<unsigned long long>(r.storedSize)));

    containers::Array output(r.assetSize, 1, 16, m_allocator);
    io::DecompressReport report;
    r.decompressor->decompressWithReport(output, stored.data(), r.storedSize, report);
    if (!report.succeeded)
        QUERN_FATAL(strings::format<160>("Failed to decompress asset %016llx: codec status %d",
            static_cast<unsigned long long>(r.assetId), report.codecStatus));
    if (report.outputSize != r.assetSize)
        QUERN_FATAL(strings::format<192>("Decompressed asset %016llx has %llu bytes instead of %llu",
            static_cast<unsigned long long>(r.assetId), static_cast<unsigned long long>(report.outputSize),
            static_cast<unsigned long long>(r.assetSize)));
    if (r.assetSize != 0)
        std::memcpy(buffer, output.data(), r.assetSize);
    return buffer;
}

u64 BlobDepot::read(u32 handle, u64 count, void* destination)
{
    Record copy {};
    {
        debug::MutexLock lock(m_mutex);
        copy = record(handle);
    }
    // Stored entries are read piecewise; the inner depot has its own lock.
    if (!copy.decompressor)
        return m_files.read(handle, count, destination);

    // Expanding may take a while: other entries stay readable meanwhile.
    const bool expandedHere = copy.buffer == nullptr;
    if (expandedHere)
        copy.buffer = expand(copy);
    const u64 n = copy.position >= copy.assetSize ? 0 : std::min(count, copy.assetSize - copy.position);
    if (n != 0)
        std::memcpy(destination, copy.buffer + copy.position, n);
    copy.position += n;

    debug::MutexLock lock(m_mutex);
    // Found again by handle: closes of other entries move the records.
    Record* r = findRecord(handle);
    if (!r) {
        if (expandedHere)
            m_allocator->free(copy.buffer);
        QUERN_FATAL("Invalid depot handle");
    }
    r->buffer = copy.buffer;
    r->position = copy.position;
    return n;
}

u64 BlobDepot::size(u32 handle)
{
    debug::MutexLock lock(m_mutex);
    return record(handle).assetSize;
}

void BlobDepot::seek(u32 handle, u64 position)
{
    debug::MutexLock lock(m_mutex);
    Record& r = record(handle);
    if (r.decompressor)
        r.position = position;
    else
        m_files.seek(handle, position);
}

void BlobDepot::close(u32 handle)
{
    u8* buffer = nullptr;
    {
        debug::MutexLock lock(m_mutex);
        Record* r = &record(handle);
        buffer = r->buffer;
        Record* first = m_records.dataAs<Record>();
        const u64 index = static_cast<u64>(r - first);
        std::memmove(first + index, first + index + 1, (m_records.count() - index - 1) * sizeof(Record));
        m_records.expand(m_records.count() - 1);
        m_files.close(handle);
    }
    if (buffer)
        m_allocator->free(buffer);
}

u64 BlobDepot::openCount()
{
    debug::MutexLock lock(m_mutex);
    return m_records.count();
}

} // namespace quern::assets

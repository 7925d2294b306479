#include "quern/graphics/EmbeddedSourceDepot.h"

#include "quern/strings/Hashes.h"

#include <algorithm>
#include <cstring>

namespace quern::graphics {

EmbeddedSourceDepot::EmbeddedSourceDepot()
    : m_entries(sizeof(EmbeddedSource), alignof(EmbeddedSource)),
      m_openSources(sizeof(OpenSource), alignof(OpenSource))
{
}

EmbeddedSourceDepot::~EmbeddedSourceDepot() = default;

u64 EmbeddedSourceDepot::keyOf(const char* name) { return strings::murmurHash64A(name, std::strlen(name), 0); }

void EmbeddedSourceDepot::add(const char* data, u64 length, const char* name)
{
    m_entries.append(EmbeddedSource{data, length, keyOf(name)});
}

u32 EmbeddedSourceDepot::open(u64 key)
{
    const EmbeddedSource* entries = m_entries.dataAs<EmbeddedSource>();
    for (u64 i = 0; i < m_entries.count(); ++i) {
        if (entries[i].key != key)
            continue;
        u32 handle = 0;
        OpenSource* slot = m_openSources.allocate<OpenSource>(handle);
        slot->entry = i;
        slot->cursor = 0;
        return handle;
    }
    // A slot without an entry would be read through a null pointer later.
    return kInvalidHandle;
}

EmbeddedSourceDepot::OpenSource* EmbeddedSourceDepot::find(u32 handle)
{
    return m_openSources.lookup<OpenSource>(handle);
}

void EmbeddedSourceDepot::close(u32 handle) { m_openSources.release(handle); }

u64 EmbeddedSourceDepot::read(u32 handle, u64 count, void* destination)
{
    OpenSource* source = find(handle);
    if (!source)
        return 0;
    const EmbeddedSource& entry = entryOf(*source);
    if (source->cursor >= entry.length)
        return 0;
    const u64 n = std::min(count, entry.length - source->cursor);
    if (n != 0)
        std::memcpy(destination, entry.data + source->cursor, n);
    source->cursor += n;
    return n;
}

u64 EmbeddedSourceDepot::size(u32 handle)
{
    const OpenSource* source = find(handle);
    return source ? entryOf(*source).length : 0;
}

void EmbeddedSourceDepot::seek(u32 handle, u64 position)
{
    if (OpenSource* source = find(handle))
        source->cursor = position;
}

} // namespace quern::graphics

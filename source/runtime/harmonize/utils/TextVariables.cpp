#include "harmonize/utils/TextVariables.h"

#include "quern/containers/Array.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/strings/Hashes.h"

#include <cstring>

namespace harmonize::TextVariables {
namespace {

quern::containers::Array& entries()
{
    static quern::containers::Array array(sizeof(Entry), alignof(Entry), quern::memory::getDefaultAllocator());
    return array;
}

Entry* findEntry(u64 key)
{
    quern::containers::Array& array = entries();
    for (u64 i = 0; i < array.count(); ++i)
        if (array.at<Entry>(i).key == key)
            return &array.at<Entry>(i);
    return nullptr;
}

void store(Entry& entry, const char* value)
{
    u64 length = 0;
    while (length < kMaxLength && value[length] != '\0')
        ++length;
    std::memcpy(entry.value, value, length);
    entry.value[length] = '\0';
    entry.length = length;
}

} // namespace

u64 keyOf(const char* name) { return quern::strings::murmurHash64A(name, std::strlen(name), kHashSeed); }

void set(const char* name, const char* value)
{
    const u64 key = keyOf(name);
    if (Entry* entry = findEntry(key)) {
        store(*entry, value);
        return;
    }
    reserve(8);
    Entry entry {};
    entry.key = key;
    store(entry, value);
    entries().append(entry);
}

const char* find(const char* name)
{
    const Entry* entry = findEntry(keyOf(name));
    return entry ? entry->value : nullptr;
}

void reserve(u64 count)
{
    if (entries().capacity() < count)
        entries().reserve(count);
}

u64 count() { return entries().count(); }

void clear() { entries().release(); }

} // namespace harmonize::TextVariables

#include "quern/strings/StringInterner.h"

#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"

#include <cstring>
#include <new>

namespace quern::strings {

StringInterner::StringInterner()
    : m_strings(8, 8)
    , m_keys(8, 8)
{
}

StringInterner::~StringInterner() { clear(); }

StringInterner* StringInterner::create(memory::Allocator* allocator)
{
    if (!allocator)
        allocator = memory::getDefaultAllocator();
    if (!allocator)
        return nullptr;
    void* block = allocator->allocate(sizeof(StringInterner), alignof(StringInterner));
    return block ? new (block) StringInterner() : nullptr;
}

void StringInterner::destroy(memory::Allocator* allocator, StringInterner* interner)
{
    if (!interner)
        return;
    if (!allocator)
        allocator = memory::getDefaultAllocator();
    interner->~StringInterner();
    allocator->free(interner);
}

i64 StringInterner::find(u64 key) const
{
    const u64* keys = m_keys.dataAs<u64>();
    for (u64 i = 0, n = m_keys.count(); i < n; ++i)
        if (keys[i] == key)
            return static_cast<i64>(i);
    return -1;
}

const char* StringInterner::intern(const char* text, u64 length, u64 key)
{
    const i64 existing = find(key);
    if (existing >= 0)
        return this->text(static_cast<u64>(existing));
    appendEntry(text, length, key);
    return this->text(m_strings.count() - 1);
}

void StringInterner::appendEntry(const char* text, u64 length, u64 key)
{
    if (!m_stringAllocator)
        m_stringAllocator = memory::getDefaultAllocator();
    if (!m_stringAllocator)
        QUERN_FATAL("StringInterner used before the default allocator exists");
    auto* copy = static_cast<char*>(m_stringAllocator->allocate(length + 1, 4));
    if (!copy)
        QUERN_OUT_OF_MEMORY();
    if (length != 0)
        std::memcpy(copy, text, length);
    copy[length] = 0;

    m_keys.append(key);
    m_strings.append(static_cast<const char*>(copy));
}

i64 StringInterner::internIndex(const char* text, u64 length)
{
    const u64 key = murmurHash64A(text, length, m_seed);
    intern(text, length, key);
    return find(key);
}

void StringInterner::setAllocator(memory::Allocator* allocator)
{
    if (m_strings.count() != 0)
        QUERN_FATAL("StringInterner: allocator changed while it holds texts");
    m_strings = containers::Array(8, 8, allocator);
    m_keys = containers::Array(8, 8, allocator);
    m_stringAllocator = allocator;
}

void StringInterner::clear()
{
    if (!m_stringAllocator)
        return;
    for (u64 i = 0, n = m_strings.count(); i < n; ++i)
        m_stringAllocator->free(const_cast<char*>(text(i)));
    m_strings.release();
    m_keys.release();
}

} // namespace quern::strings

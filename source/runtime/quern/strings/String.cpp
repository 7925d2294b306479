#include "quern/strings/String.h"

#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/Utf8.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>

namespace quern::strings {
namespace {

memory::Allocator& resolveAllocator(memory::Allocator*& allocator)
{
    if (!allocator)
        allocator = memory::getDefaultAllocator();
    if (!allocator)
        QUERN_FATAL("String grown before the default allocator exists");
    return *allocator;
}

} // namespace

String::String(memory::Allocator* allocator)
    : m_data(m_inline), m_allocator(allocator), m_capacity(kInlineCapacity), m_length(0), m_inline{}
{
}

String::String(const char* text, memory::Allocator* allocator) : String(allocator) { assign(text); }

String::String(const String& other) : String(other.m_allocator)
{
    append(other.m_data, other.m_data + other.m_length);
}

String::String(String&& other) noexcept : String(other.m_allocator) { takeFrom(other); }

String& String::operator=(const String& other)
{
    if (this != &other) {
        m_length = 0;
        m_data[0] = 0;
        append(other.m_data, other.m_data + other.m_length);
    }
    return *this;
}

String& String::operator=(String&& other) noexcept
{
    if (this != &other) {
        releaseHeap();
        m_allocator = other.m_allocator;
        takeFrom(other);
    }
    return *this;
}

String& String::operator=(const char* text)
{
    assign(text);
    return *this;
}

String::~String() { releaseHeap(); }

void String::releaseHeap()
{
    if (m_data != m_inline)
        m_allocator->free(m_data);
    m_data = m_inline;
    m_capacity = kInlineCapacity;
    m_length = 0;
    m_inline[0] = 0;
}

// Expects this string inline and empty with the other's allocator.
void String::takeFrom(String& other)
{
    if (other.m_data == other.m_inline) {
        std::memcpy(m_inline, other.m_inline, kInlineCapacity);
    } else {
        m_data = other.m_data;
        m_capacity = other.m_capacity;
        other.m_data = other.m_inline;
        other.m_capacity = kInlineCapacity;
    }
    m_length = other.m_length;
    other.m_length = 0;
    other.m_inline[0] = 0;
}

void String::assign(const char* text)
{
    const u64 length = text ? std::strlen(text) : 0;
    m_length = 0;
    const u64 usable = m_capacity ? m_capacity - 1 : 0;
    if (length > usable)
        reserve(length + 1); // the text cannot be our own then: it is longer than the room
    if (length != 0)
        std::memmove(m_data, text, length);
    m_length = length;
    m_data[length] = 0;
}

void String::reserve(u64 bytes)
{
    if (m_capacity >= bytes)
        return;
    memory::Allocator& allocator = resolveAllocator(m_allocator);
    char* block;
    if (m_data != m_inline) {
        block = static_cast<char*>(memory::reallocate(m_data, m_length + 1, 1, bytes, allocator));
    } else {
        block = static_cast<char*>(allocator.allocate(bytes, 1));
        if (block)
            std::memcpy(block, m_inline, m_length + 1);
    }
    if (!block)
        QUERN_OUT_OF_MEMORY();
    m_data = block;
    m_capacity = bytes;
}

void String::append(const char* begin, const char* end)
{
    if (!begin)
        return;
    if (!end)
        end = begin + std::strlen(begin);
    if (end <= begin)
        return;
    const auto count = static_cast<u64>(end - begin);
    const u64 room = m_capacity ? m_capacity - m_length - 1 : 0;
    if (room < count) {
        // The source may be this string's own text, which growth moves.
        const bool own = begin >= m_data && begin < m_data + m_capacity;
        const u64 offset = own ? static_cast<u64>(begin - m_data) : 0;
        reserve(m_length + count + 1);
        if (own)
            begin = m_data + offset;
    }
    std::memmove(m_data + m_length, begin, count);
    m_length += count;
    m_data[m_length] = 0;
}

void String::erase(u64 position, u64 count)
{
    if (position >= m_length)
        return;
    const u64 removed = std::min(count, m_length - position);
    std::memmove(m_data + position, m_data + position + removed, m_length - position - removed + 1);
    m_length -= removed;
}

i64 String::findFirstOf(const String& set) const
{
    if (m_length == 0 || set.m_length == 0)
        return -1;
    for (const char* p = m_data; *p; ++p)
        if (std::strchr(set.m_data, *p))
            return p - m_data;
    return -1;
}

i64 String::findLastOf(char c, u64 position) const
{
    if (m_length == 0)
        return -1;
    for (i64 i = static_cast<i64>(std::min(position, m_length - 1)); i >= 0; --i)
        if (m_data[i] == c)
            return i;
    return -1;
}

namespace {

// One code point of a zero-terminated text, lowered; 0 at its end. A malformed
// sequence swallows the rest of the text as one value.
u32 nextLoweredCodePoint(const u8*& text)
{
    u32 state = kUtf8Accept;
    u32 codePoint = 0;
    do {
        utf8DecodeStep(state, codePoint, *text++);
    } while (state != kUtf8Accept && *text != 0);
    // tolower is defined for byte values only.
    return codePoint < 256 ? static_cast<u32>(std::tolower(static_cast<int>(codePoint))) : codePoint;
}

} // namespace

i32 compareNoCase(const char* a, const char* b)
{
    const auto* pa = reinterpret_cast<const u8*>(a ? a : "");
    const auto* pb = reinterpret_cast<const u8*>(b ? b : "");
    for (;;) {
        const u32 ca = nextLoweredCodePoint(pa);
        const u32 cb = nextLoweredCodePoint(pb);
        if (ca != cb) {
            const i64 difference = i64{ca} - i64{cb};
            return static_cast<i32>(std::clamp<i64>(difference, INT32_MIN, INT32_MAX));
        }
        if (ca == 0)
            return 0;
    }
}

} // namespace quern::strings

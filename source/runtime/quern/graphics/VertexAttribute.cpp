#include "quern/graphics/VertexAttribute.h"

#include "quern/language/Exception.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/PackedName.h"

#include <cstring>

namespace quern::graphics {
namespace {

constexpr const char* kTypeNames[] = { nullptr, "f", "d", "b", "s", "i", "ub", "us", "ui" };
constexpr u32 kComponentSizes[] = { 0, 4, 8, 1, 2, 4, 1, 2, 4 };
constexpr u64 kMaxPackedNameLength = 12;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The packed id of text[0, length), or kInvalidPackedName when that is not a name.
u64 packedNameOf(const char* text, u64 length)
{
    if (length == 0 || length > kMaxPackedNameLength)
        return kInvalidPackedName;
    char name[kMaxPackedNameLength + 1] = {};
    std::memcpy(name, text, length);
    return isValidPackedName(name) ? packName(name) : kInvalidPackedName;
}

// The predefined record named by a bare text, or the empty attribute.
VertexAttribute predefinedAttribute(const std::string& text)
{
    const u64 id = packedNameOf(text.data(), text.size());
    if (id == VertexAttribute::kPositionID)
        return VertexAttribute::position();
    if (id == VertexAttribute::kNormalID)
        return VertexAttribute::normal();
    if (id == VertexAttribute::kColorID)
        return VertexAttribute::color();
    return {};
}

} // namespace

// Raised at the parser itself, so that the exception names it as its site.
#define QUERN_RAISE_INVALID_ATTRIBUTE(text)                                                                            \
    QUERN_RAISE(Exception, (std::string("Invalid vertex attribute: ") + (text)).c_str())

u32 vertexComponentSize(u8 type) { return type < std::size(kComponentSizes) ? kComponentSizes[type] : 0; }

VertexAttribute VertexAttribute::fromString(const std::string& text)
{
    if (text.empty())
        return {};
    const std::size_t open = text.find('(');
    if (open == std::string::npos) {
        const VertexAttribute predefined = predefinedAttribute(text);
        if (predefined.id == 0)
            QUERN_RAISE_INVALID_ATTRIBUTE(text);
        return predefined;
    }
    if (open == 0)
        QUERN_RAISE_INVALID_ATTRIBUTE(text);
    const u64 id = packedNameOf(text.data(), open);
    if (id == kInvalidPackedName)
        QUERN_RAISE_INVALID_ATTRIBUTE(text);
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos || close < open)
        QUERN_RAISE_INVALID_ATTRIBUTE(text);

    // "<blanks><digits><word>", the word ending at a blank; the rest is ignored.
    std::size_t at = open + 1;
    while (at < close && isBlank(text[at]))
        ++at;
    const std::size_t digitsBegin = at;
    u32 count = 0;
    while (at < close && isDigit(text[at])) {
        // A count above 255 would not fit the attribute; stop before it can wrap.
        if (count <= 255)
            count = count * 10 + static_cast<u32>(text[at] - '0');
        ++at;
    }
    if (at == digitsBegin || count == 0 || count > 255)
        QUERN_RAISE_INVALID_ATTRIBUTE(text);
    while (at < close && isBlank(text[at]))
        ++at;
    const std::size_t wordBegin = at;
    while (at < close && !isBlank(text[at]))
        ++at;
    if (at == wordBegin)
        QUERN_RAISE_INVALID_ATTRIBUTE(text);

    VertexAttribute attribute;
    attribute.id = id;
    attribute.count = static_cast<u8>(count);
    attribute.semanticIndex = static_cast<u8>(indexOfID(id));
    attribute.type = typeFromName(text.substr(wordBegin, at - wordBegin));
    return attribute;
}

u8 VertexAttribute::typeFromName(const std::string& name)
{
    for (u8 code = Float; code <= UnsignedInt; ++code)
        if (name == kTypeNames[code])
            return code;
    QUERN_FATAL("Invalid vertex attribute type");
}

u64 VertexAttribute::indexedID(int i)
{
    if (i < 0 || i >= kIndexedIDCount)
        return 0;
    return kTexCoord0ID + static_cast<u64>(i) * kIndexedIDStep;
}

u32 VertexAttribute::indexOfID(u64 id)
{
    for (int i = 1; i < kIndexedIDCount; ++i)
        if (id == indexedID(i))
            return static_cast<u32>(i);
    return 0;
}

VertexAttribute VertexAttribute::texCoord(int i) { return { indexedID(i), 2, 0, 0, static_cast<u8>(i), Float, 0 }; }

std::string VertexAttribute::toString() const
{
    if (type < Float || type > UnsignedInt)
        QUERN_FATAL("Invalid vertex attribute type");
    char name[16] = {};
    unpackNameToBuffer(id, name, sizeof name);
    std::string text(name);
    text += '(';
    text += std::to_string(count);
    text += kTypeNames[type];
    text += ')';
    return text;
}

u32 VertexAttribute::getSize() const { return count * vertexComponentSize(type); }

} // namespace quern::graphics

#include "quern/graphics/VertexFormat.h"

#include "quern/language/Exception.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/Hashes.h"
#include "quern/strings/PackedName.h"

namespace quern::graphics {
namespace {

// Offsets are kept in a byte: an attribute must start within the first 256 bytes.
constexpr u64 kMaxAttributeOffset = 255;
// The texture-coordinate ids are kTexCoord0ID + 0 .. 7 steps.
constexpr u64 kTexCoordIDRange = 7 * VertexAttribute::kIndexedIDStep;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

} // namespace

VertexFormat VertexFormat::fromFlags(u32 flags)
{
    const u32 texCoordSets = (flags >> kTexCoordShift) & 0xf;
    // indexedID knows eight sets; a ninth would be an attribute without a name.
    if (texCoordSets > VertexAttribute::kIndexedIDCount)
        QUERN_FATAL("Invalid vertex format flags: more than 8 texture-coordinate sets");
    VertexFormat format;
    format.flags = flags;
    if (flags & kHasPosition)
        format.attributes[format.count++] = VertexAttribute::position();
    if (flags & kHasNormal)
        format.attributes[format.count++] = VertexAttribute::normal();
    if (flags & kHasColor)
        format.attributes[format.count++] = VertexAttribute::color();
    for (u32 i = 0; i < texCoordSets; ++i)
        format.attributes[format.count++] = VertexAttribute::texCoord(static_cast<int>(i));
    format.computeLayout();
    return format;
}

void VertexFormat::computeLayout()
{
    if (count > kMaxAttributes)
        QUERN_FATAL("A vertex format holds at most 16 attributes");
    stride = 0;
    flags = 0;
    for (u64 i = 0; i < count; ++i) {
        VertexAttribute& attribute = attributes[i];
        if (stride > kMaxAttributeOffset)
            QUERN_FATAL("Vertex attribute offset does not fit in a byte");
        const u8 offset = static_cast<u8>(stride);
        if (attribute.id == VertexAttribute::kPositionID) {
            flags |= kHasPosition;
            positionOffset = offset;
        } else if (attribute.id == VertexAttribute::kNormalID) {
            flags |= kHasNormal;
            normalOffset = offset;
        } else if (attribute.id == VertexAttribute::kColorID) {
            flags |= kHasColor;
            colourOffset = offset;
            if (attribute.count == 4)
                flags |= kColorHasFourComponents;
        } else if (attribute.id - VertexAttribute::kTexCoord0ID <= kTexCoordIDRange) {
            const u8 semantic = attribute.semanticIndex;
            if (semantic >= VertexAttribute::kIndexedIDCount)
                QUERN_FATAL("Invalid texture-coordinate semantic index");
            texCoordOffsets[semantic] = offset;
            flags = (flags & ~kTexCoordMask) | (static_cast<u32>(semantic + 1) << kTexCoordShift);
        }
        attribute.offset = offset;
        attribute.index = static_cast<u8>(i);
        stride += attribute.getSize();
    }
    const std::string text = toString();
    hash = strings::murmurHash2(text.data(), text.size());
}

void VertexFormat::addAttribute(const VertexAttribute& attribute)
{
    if (count >= kMaxAttributes)
        QUERN_FATAL("A vertex format holds at most 16 attributes");
    attributes[count++] = attribute;
    computeLayout();
}

const VertexAttribute* VertexFormat::findAttribute(u64 id) const
{
    for (u64 i = 0; i < count; ++i)
        if (attributes[i].id == id)
            return &attributes[i];
    return nullptr;
}

const VertexAttribute& VertexFormat::getAttributeWithID(u64 id) const
{
    if (const VertexAttribute* attribute = findAttribute(id))
        return *attribute;
    QUERN_RAISE(Exception, (std::string("Attribute not found: ") + unpackName(id).c_str()).c_str());
}

std::string VertexFormat::toString() const
{
    std::string text;
    for (u64 i = 0; i < count; ++i) {
        if (i != 0)
            text += ' ';
        text += attributes[i].toString();
    }
    return text;
}

bool VertexFormat::hasSameLayout(const VertexFormat& other) const
{
    if (stride != other.stride || count != other.count)
        return false;
    for (u64 i = 0; i < count; ++i) {
        const VertexAttribute& a = attributes[i];
        const VertexAttribute& b = other.attributes[i];
        if (a.id != b.id || a.count != b.count || a.type != b.type)
            return false;
    }
    return true;
}

VertexFormat vertexFormatFromString(const std::string& text)
{
    VertexFormat format;
    u64 stride = 0;
    std::size_t at = 0;
    // Tokens as a stream reads them: a text that ends in white space (or is
    // empty) yields one last, empty token.
    for (;;) {
        while (at < text.size() && isBlank(text[at]))
            ++at;
        const std::size_t begin = at;
        while (at < text.size() && !isBlank(text[at]))
            ++at;
        const std::string token = text.substr(begin, at - begin);
        const VertexAttribute attribute = VertexAttribute::fromString(token);
        if (attribute.id == 0 || attribute.type == 0 || attribute.count == 0)
            QUERN_RAISE(Exception, ("Invalid vertex attribute string: " + token).c_str());
        if (format.count == VertexFormat::kMaxAttributes || stride > kMaxAttributeOffset)
            QUERN_RAISE(Exception, ("Invalid vertex format string: " + text).c_str());
        format.attributes[format.count++] = attribute;
        stride += attribute.getSize();
        if (at == text.size())
            break;
    }
    // One layout pass for the whole list gives what a pass per attribute would.
    format.computeLayout();
    return format;
}

} // namespace quern::graphics

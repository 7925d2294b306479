#include "quern/strings/StringRef.h"
#include "quern/strings/Utf8.h"

namespace quern::strings {
namespace {

struct LeadByte {
    u32 length; // bytes of the whole sequence; 0 for a byte that starts none
    u32 bits;   // the code point bits the lead byte carries
};

LeadByte classifyLead(u8 byte)
{
    if (byte < 0x80)
        return {1, byte};
    if (byte < 0xC2) // continuation bytes, and the overlong 0xC0 and 0xC1
        return {0, 0};
    if (byte < 0xE0)
        return {2, byte & 0x1Fu};
    if (byte < 0xF0)
        return {3, byte & 0x0Fu};
    if (byte < 0xF8)
        return {4, byte & 0x07u};
    if (byte < 0xFC)
        return {5, byte & 0x03u};
    if (byte < 0xFE)
        return {6, byte & 0x01u};
    return {0, 0};
}

// Smallest code point each sequence length may carry; below it the form is overlong.
constexpr u32 kMinimumCodePoint[7] = {0, 0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};

bool representable(u32 codePoint, u32 length)
{
    if (codePoint < kMinimumCodePoint[length] || codePoint > 0xFFFD)
        return false;
    return codePoint < 0xD800 || codePoint > 0xDFFF;
}

} // namespace

u64 StringRef::toUtf16(u16* out, u64 outBytes) const
{
    const u64 units = outBytes / 2;
    if (units == 0)
        return 0;
    const auto* p = reinterpret_cast<const u8*>(m_data);
    u64 remaining = m_data ? m_length : 0;
    u64 written = 0;
    while (remaining != 0 && *p != 0 && written + 1 < units) {
        const LeadByte lead = classifyLead(*p);
        if (lead.length == 0) {
            out[written++] = kReplacementCharacter;
            ++p;
            --remaining;
            continue;
        }
        if (remaining < lead.length)
            break;
        u32 codePoint = lead.bits;
        u32 taken = 1;
        for (; taken < lead.length; ++taken) {
            if ((p[taken] & 0xC0) != 0x80)
                break; // the stranger starts the next character
            codePoint = (codePoint << 6) | (p[taken] & 0x3Fu);
        }
        const bool complete = taken == lead.length;
        out[written++] = complete && representable(codePoint, lead.length) ? static_cast<u16>(codePoint)
                                                                             : kReplacementCharacter;
        p += taken;
        remaining -= taken;
    }
    out[written] = 0;
    return written;
}

u64 utf16ToUtf8(const u16* text, char* out, u64 outBytes)
{
    if (outBytes == 0)
        return 0;
    u64 written = 0;
    for (const u16* unit = text; unit && *unit != 0; ++unit) {
        u32 c = *unit;
        const u64 bytes = c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        if (written + bytes + 1 > outBytes)
            break;
        if (bytes == 1) {
            out[written] = static_cast<char>(c);
        } else if (bytes == 2) {
            out[written] = static_cast<char>(0xC0 | (c >> 6));
            out[written + 1] = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            if ((c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFF)
                c = kReplacementCharacter;
            out[written] = static_cast<char>(0xE0 | (c >> 12));
            out[written + 1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out[written + 2] = static_cast<char>(0x80 | (c & 0x3F));
        }
        written += bytes;
    }
    out[written] = 0;
    return written;
}

} // namespace quern::strings

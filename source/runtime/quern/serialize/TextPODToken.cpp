#include "quern/serialize/TextPODToken.h"

#include "quern/io/ByteSink.h"
#include "quern/io/ByteSource.h"
#include "quern/language/Exception.h"
#include "quern/serialize/PODElements.h"
#include "quern/serialize/PODUtility.h"
#include "quern/serialize/TextInput.h"
#include "quern/serialize/TextNumbers.h"
#include "quern/serialize/TextPODReader.h"
#include "quern/strings/PackedName.h"

#include <cstring>
#include <istream>
#include <ostream>

namespace quern::serialize {

void raiseParseError() { QUERN_RAISE(ParseException, "Error parsing value", nullptr, 0); }

namespace {

// Collects the text of one item and hands it to the sink or stream in large pieces.
template <typename Target> class TextOutput {
public:
    explicit TextOutput(Target& target) : m_target(target) {}
    TextOutput(const TextOutput&) = delete;
    TextOutput& operator=(const TextOutput&) = delete;

    void put(const char* text, u64 length)
    {
        if (length > sizeof m_buffer - m_used) {
            flush();
            if (length > sizeof m_buffer) {
                writeTo(m_target, text, length);
                return;
            }
        }
        std::memcpy(m_buffer + m_used, text, length);
        m_used += length;
    }
    void put(const char* text) { put(text, std::strlen(text)); }
    void put(char c) { put(&c, 1); }
    // Must be called once the item is complete (a destructor could not report failure).
    void flush()
    {
        if (m_used != 0)
            writeTo(m_target, m_buffer, m_used);
        m_used = 0;
    }

private:
    static void writeTo(ByteSink& sink, const char* text, u64 length) { sink.write(text, length); }
    static void writeTo(std::ostream& stream, const char* text, u64 length)
    {
        stream.write(text, static_cast<std::streamsize>(length));
        if (stream.fail() || stream.bad())
            QUERN_RAISE(IOException, "Error writing to file", nullptr);
    }

    Target& m_target;
    u64 m_used = 0;
    char m_buffer[4096];
};

// Quotes, line breaks and zero bytes cannot be told apart from the form's own
// punctuation, so a text holding one would not read back.
void checkWritableText(const char* text)
{
    if (text && std::strpbrk(text, "\"\r\n"))
        QUERN_RAISE(IOException, "Text holds a quote or a line break and cannot be written as a text value", nullptr);
}

const char* nameOr(const char* name, const char* fallback)
{
    if (!name || name[0] == 0)
        return fallback;
    checkWritableText(name);
    return name;
}

template <typename Target> void writeElement(TextOutput<Target>& out, PODKind kind, u32 bits, const u8* place)
{
    char text[kNumberTextCapacity];
    u64 length = 0;
    if (kind == PODKind::Float) {
        if (bits == 32) {
            f32 value;
            std::memcpy(&value, place, sizeof value);
            length = formatFloat(value, text);
        } else {
            f64 value;
            std::memcpy(&value, place, sizeof value);
            length = formatFloat(value, text);
        }
    } else if (kind == PODKind::Unsigned) {
        u64 value = 0;
        std::memcpy(&value, place, bits / 8);
        length = formatUnsigned(value, text);
    } else {
        u64 raw = 0;
        std::memcpy(&raw, place, bits / 8);
        const u32 unused = 64 - bits;
        const i64 value = unused == 0 ? static_cast<i64>(raw) : static_cast<i64>(raw << unused) >> unused;
        length = formatSigned(value, text);
    }
    out.put(text, length);
}

template <typename Target>
void writeRecordsText(Target& target, const void* data, u64 count, const PODTypeDescriptor& descriptor,
                      const char* name)
{
    if (count == 0)
        return;
    TextOutput<Target> out(target);
    out.put('"');
    out.put(nameOr(name, "values"));
    out.put("\":", 2);
    const auto* bytes = static_cast<const u8*>(data);
    forEachTextElement(count, descriptor, [&](PODKind kind, u32 bits, u64 offset, bool followedBySpace) {
        writeElement(out, kind, bits, bytes + offset);
        if (followedBySpace)
            out.put(' ');
    });
    out.put(" ,\n", 3);
    out.flush();
}

template <typename Target> void writeStringText(Target& target, const char* text, const char* name)
{
    checkWritableText(text);
    TextOutput<Target> out(target);
    out.put('"');
    out.put(nameOr(name, "value"));
    out.put("\":\"", 3);
    if (text)
        out.put(text);
    out.put("\",\n", 3);
    out.flush();
}

template <typename Target> void beginChunkWrite(Target& target, u64 id)
{
    TextOutput<Target> out(target);
    if (id != 0) {
        // The text form keeps an id as its name: one that no name gives would
        // read back as another id.
        char name[16];
        chunkIdName(id, name);
        if (packName(name) != id)
            QUERN_RAISE(IOException, "Chunk id is not a packed name and cannot be written as text", nullptr);
        out.put('"');
        out.put(name);
        out.put("\":", 2);
    }
    out.put("{\n", 2);
    out.flush();
}

template <typename Target> void endChunkWrite(Target& target)
{
    TextOutput<Target> out(target);
    out.put("}\n", 2);
    out.flush();
}

u32 streamStart(i64 position) { return position < 0 ? kNoChunkStart : static_cast<u32>(position); }

} // namespace

void TextPODToken::readPOD(std::istream& stream, void* data, u64 count, const PODTypeDescriptor* descriptor)
{
    StreamTextInput input(stream);
    readRecordsText(input, data, count, *descriptor);
}

void TextPODToken::writePOD(std::ostream& stream, const void* data, u64 count, const PODTypeDescriptor* descriptor,
                            const char* name)
{
    writeRecordsText(stream, data, count, *descriptor, name);
}

u32 TextPODToken::readString(std::istream& stream, char* buffer, u64 capacity)
{
    StreamTextInput input(stream);
    return readStringText(input, buffer, capacity);
}

void TextPODToken::writeString(std::ostream& stream, const char* text, const char* name)
{
    writeStringText(stream, text, name);
}

u32 TextPODToken::beginReadChunk(std::istream& stream, u64* id)
{
    const u32 start = streamStart(static_cast<i64>(stream.tellg()));
    StreamTextInput input(stream);
    u64 ignored = 0;
    beginChunkText(input, id ? id : &ignored);
    return start;
}

void TextPODToken::endReadChunk(std::istream& stream, u32)
{
    StreamTextInput input(stream);
    endChunkText(input);
}

u32 TextPODToken::beginWriteChunk(std::ostream& stream, u64 id)
{
    const u32 start = streamStart(static_cast<i64>(stream.tellp()));
    beginChunkWrite(stream, id);
    return start;
}

void TextPODToken::endWriteChunk(std::ostream& stream, u32) { endChunkWrite(stream); }

void TextPODToken::readPOD(ByteSource& source, void* data, u64 count, const PODTypeDescriptor* descriptor)
{
    if (count == 0)
        return;
    SourceTextInput input(source);
    readRecordsText(input, data, count, *descriptor);
}

u32 TextPODToken::readString(ByteSource& source, char* buffer, u64 capacity)
{
    SourceTextInput input(source);
    return readStringText(input, buffer, capacity);
}

u32 TextPODToken::beginReadChunk(ByteSource& source, u64* id)
{
    const u32 start = static_cast<u32>(source.position);
    SourceTextInput input(source);
    u64 ignored = 0;
    beginChunkText(input, id ? id : &ignored);
    return start;
}

void TextPODToken::endReadChunk(ByteSource& source, u32)
{
    SourceTextInput input(source);
    endChunkText(input);
}

void TextPODToken::writePOD(ByteSink& sink, const void* data, u64 count, const PODTypeDescriptor* descriptor,
                            const char* name)
{
    writeRecordsText(sink, data, count, *descriptor, name);
}

void TextPODToken::writeString(ByteSink& sink, const char* text, const char* name)
{
    writeStringText(sink, text, name);
}

u32 TextPODToken::beginWriteChunk(ByteSink& sink, u64 id)
{
    const u32 start = static_cast<u32>(sink.position());
    beginChunkWrite(sink, id);
    return start;
}

void TextPODToken::endWriteChunk(ByteSink& sink, u32) { endChunkWrite(sink); }

} // namespace quern::serialize

#pragma once
// The readable POD form: one item per line, a quoted name and its value, chunks
// in braces. It looks like JSON but is not: every value ends with a comma, names
// are never compared when reading, strings are written raw (so they cannot hold
// a quote or a line break), and numbers are plain decimal text.
//
//   {
//   "values":2 ,
//   "position":1.5 -2 0.25 ,
//   "value":"hello",
//   }

#include "quern/serialize/PODToken.h"

namespace quern::serialize {

class TextPODToken final : public PODToken {
public:
    void readPOD(std::istream& stream, void* data, u64 count, const PODTypeDescriptor* descriptor) override;
    void writePOD(std::ostream& stream, const void* data, u64 count, const PODTypeDescriptor* descriptor,
                  const char* name) override;
    u32 readString(std::istream& stream, char* buffer, u64 capacity) override;
    void writeString(std::ostream& stream, const char* text, const char* name) override;
    u32 beginReadChunk(std::istream& stream, u64* id) override;
    void endReadChunk(std::istream& stream, u32 start) override;
    u32 beginWriteChunk(std::ostream& stream, u64 id) override;
    void endWriteChunk(std::ostream& stream, u32 start) override;

    void readPOD(ByteSource& source, void* data, u64 count, const PODTypeDescriptor* descriptor) override;
    u32 readString(ByteSource& source, char* buffer, u64 capacity) override;
    u32 beginReadChunk(ByteSource& source, u64* id) override;
    void endReadChunk(ByteSource& source, u32 start) override;
    void writePOD(ByteSink& sink, const void* data, u64 count, const PODTypeDescriptor* descriptor,
                  const char* name) override;
    void writeString(ByteSink& sink, const char* text, const char* name) override;
    u32 beginWriteChunk(ByteSink& sink, u64 id) override;
    void endWriteChunk(ByteSink& sink, u32 start) override;
};

} // namespace quern::serialize

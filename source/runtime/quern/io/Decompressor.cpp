#include "quern/io/Decompressor.h"

#include "quern/strings/Hashes.h"

namespace quern::io {

u32 Decompressor::checksum(const void* data, u64 length) { return strings::crc32(data, length); }

u32 Decompressor::decompressWithReport(
    containers::Array& output, const void* input, u64 inputLength, DecompressReport& report)
{
    const u32 crc = decompress(output, input, inputLength);
    report.succeeded = true;
    report.codecStatus = 0;
    report.outputSize = output.count() * output.elementSize();
    return crc;
}

} // namespace quern::io

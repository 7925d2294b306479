#include "quern/oggvorbis/VorbisFile.h"

#include <cstdio>
#include <ios>
#include <limits>
#include <memory>
#include <sstream>
#include <streambuf>

namespace quern::oggvorbis {
namespace {

using Position = std::streambuf::pos_type;
const Position kSeekFailed = Position(std::streambuf::off_type(-1));

std::size_t readCallback(void* destination, std::size_t size, std::size_t count, void* source)
{
    if (size == 0 || count == 0)
        return 0;
    const std::size_t bytes = size * count;
    const std::streamsize limit = std::numeric_limits<std::streamsize>::max();
    const std::streamsize asked = bytes > static_cast<std::size_t>(limit) ? limit : static_cast<std::streamsize>(bytes);
    const std::streamsize got = static_cast<std::streambuf*>(source)->sgetn(static_cast<char*>(destination), asked);
    return got > 0 ? static_cast<std::size_t>(got) / size : 0;
}

// fseek's contract: 0 when the position was set, -1 when it was not (which
// is also how vorbisfile learns that a source cannot seek at all).
int seekCallback(void* source, ogg_int64_t offset, int origin)
{
    std::ios::seekdir direction = std::ios::beg;
    if (origin == SEEK_CUR)
        direction = std::ios::cur;
    else if (origin == SEEK_END)
        direction = std::ios::end;
    const Position reached = static_cast<std::streambuf*>(source)->pubseekoff(offset, direction, std::ios::in);
    return reached == kSeekFailed ? -1 : 0;
}

long tellCallback(void* source)
{
    const Position here = static_cast<std::streambuf*>(source)->pubseekoff(0, std::ios::cur, std::ios::in);
    return here == kSeekFailed ? -1 : static_cast<long>(static_cast<std::streamoff>(here));
}

const ov_callbacks kCallbacks = { readCallback, seekCallback, nullptr, tellCallback };

// Clears the decoder on every way out of the check.
struct CheckedFile {
    OggVorbis_File file {};
    bool opened = false;
    ~CheckedFile()
    {
        if (opened)
            ov_clear(&file);
    }
};

} // namespace

const ov_callbacks& streamBufferCallbacks() { return kCallbacks; }

const char* vorbisErrorText(i32 code)
{
    switch (code) {
    case OV_FALSE:
        return "Not true, or no data available";
    case OV_HOLE:
        return "Vorbisfile encountered missing or corrupt data in the bitstream. Recovery is normally automatic and "
               "this return code is for informational purposes only.";
    case OV_EREAD:
        return "Read error while fetching compressed data for decode";
    case OV_EFAULT:
        return "Internal inconsistency in decode state. Continuing is likely not possible.";
    case OV_EIMPL:
        return "Feature not implemented";
    case OV_EINVAL:
        return "Either an invalid argument, or incompletely initialized argument passed to libvorbisfile call";
    case OV_ENOTVORBIS:
        return "The given file/data was not recognized as Ogg Vorbis data.";
    case OV_EBADHEADER:
        return "The file/data is apparently an Ogg Vorbis stream, but contains a corrupted or undecipherable header.";
    case OV_EVERSION:
        return "The bitstream format revision of the given stream is not supported.";
    case OV_ENOTAUDIO:
        return "Not an audio data packet";
    case OV_EBADPACKET:
        return "Bad packet in Vorbis data stream";
    case OV_EBADLINK:
        return "The given link exists in the Vorbis data stream, but is not decipherable due to garbage or corruption.";
    case OV_ENOSEEK:
        return "The given stream is not seekable";
    default:
        return "Unknown Ogg error.";
    }
}

bool checkOggVorbisFile(const u8* data, u64 size, std::string& reason)
{
    std::stringbuf bytes(std::string(reinterpret_cast<const char*>(data), size), std::ios::in);
    CheckedFile checked;
    const int tested = ov_test_callbacks(&bytes, &checked.file, nullptr, 0, kCallbacks);
    checked.opened = tested == 0;
    if (tested < 0) {
        reason = std::string("it is not Ogg Vorbis data: ") + vorbisErrorText(tested);
        return false;
    }
    const int opened = ov_test_open(&checked.file);
    if (opened < 0) {
        reason = std::string("it does not open: ") + vorbisErrorText(opened);
        return false;
    }
    const vorbis_info* first = ov_info(&checked.file, 0);
    for (long link = 1; link < ov_streams(&checked.file); ++link) {
        const vorbis_info* info = ov_info(&checked.file, link);
        if (!first || !info || info->channels != first->channels || info->rate != first->rate) {
            reason = "link " + std::to_string(link) + " differs from the first in channels or rate";
            return false;
        }
    }
    if (ov_seekable(&checked.file) && ov_pcm_seek(&checked.file, 0) != 0) {
        reason = "it cannot be rewound to its first sample";
        return false;
    }
    char pcm[4096];
    int link = 0;
    for (;;) {
        const long got = ov_read(&checked.file, pcm, sizeof pcm, 0, 2, 1, &link);
        if (got == 0)
            return true;
        if (got < 0 && got != OV_HOLE) {
            reason = std::string("it does not decode: ") + vorbisErrorText(static_cast<i32>(got));
            return false;
        }
    }
}

} // namespace quern::oggvorbis

#include "quern/oggvorbis/OggVorbisStream.h"

#include "quern/debug/Log.h"
#include "quern/language/Exception.h"
#include "quern/oggvorbis/VorbisFile.h"

#include <algorithm>
#include <ios>
#include <limits>
#include <string>

namespace quern::oggvorbis {
namespace {

constexpr int kLittleEndian = 0;
constexpr int kSixteenBits = 2;
constexpr int kSigned = 1;
// ov_read takes an int count.
constexpr u64 kLargestRead = std::numeric_limits<int>::max();

[[noreturn]] void raiseVorbisError(const char* what, int code, const char* file, i32 line, const char* function)
{
    const std::string message = std::string(what) + vorbisErrorText(code);
    raiseException<Exception>(file, line, function, message.c_str());
}

} // namespace

#define QUERN_RAISE_VORBIS(what, code) raiseVorbisError((what), (code), __FILE__, __LINE__, __PRETTY_FUNCTION__)

OggVorbisStream::OggVorbisStream()
    : m_state(std::make_unique<DecoderState>())
{
}

OggVorbisStream::~OggVorbisStream()
{
    debug::MutexLock lock(m_state->lock);
    clearDecoder();
}

void OggVorbisStream::clearDecoder()
{
    if (m_state->opened)
        ov_clear(&m_state->file);
    m_state->opened = false;
}

int OggVorbisStream::openDecoder(std::streambuf* source)
{
    clearDecoder();
    const int tested = ov_test_callbacks(source, &m_state->file, nullptr, 0, streamBufferCallbacks());
    // A failed test has cleared the record already.
    if (tested < 0)
        return tested;
    m_state->opened = true;
    return ov_test_open(&m_state->file);
}

void OggVorbisStream::seekToFirstSample()
{
    if (ov_seekable(&m_state->file))
        ov_pcm_seek(&m_state->file, 0);
}

bool OggVorbisStream::readFormat(std::streambuf* source, audio::SampleFormat& format)
{
    debug::MutexLock lock(m_state->lock);
    clearDecoder();
    const int tested = ov_test_callbacks(source, &m_state->file, nullptr, 0, streamBufferCallbacks());
    if (tested < 0)
        return false;
    m_state->opened = true;
    const int opened = ov_test_open(&m_state->file);
    if (opened < 0)
        QUERN_RAISE_VORBIS("ov_test_open failed: ", opened);
    seekToFirstSample();
    const vorbis_info* info = ov_info(&m_state->file, -1);
    format = audio::SampleFormat {};
    format.channels = static_cast<u32>(info->channels);
    format.sampleRate = static_cast<u32>(info->rate);
    format.bitsPerSample = 16;
    format.isSigned = 1;
    format.bytesPerFrame = u64 { format.channels } * 2;
    format.bigEndian = 0;
    return true;
}

void OggVorbisStream::reset()
{
    std::streambuf* stream = source();
    if (!stream)
        return;
    debug::MutexLock lock(m_state->lock);
    stream->pubseekpos(0, std::ios::in);
    const int opened = openDecoder(stream);
    if (opened < 0)
        QUERN_RAISE_VORBIS("ov_open failed: ", opened);
    seekToFirstSample();
}

u64 OggVorbisStream::readImpl(std::streambuf* source, u64 bytes, void* destination)
{
    (void)source;
    debug::MutexLock lock(m_state->lock);
    if (!m_state->opened)
        return 0;
    // vorbisfile hands out whole frames only and refuses a smaller request.
    const vorbis_info* info = ov_info(&m_state->file, -1);
    const u64 frameBytes = info ? u64 { static_cast<u32>(info->channels) } * 2 : 0;
    if (frameBytes == 0)
        return 0;
    const u64 wanted = bytes - bytes % frameBytes;
    char* out = static_cast<char*>(destination);
    u64 done = 0;
    while (done < wanted) {
        int link = 0;
        const long got = ov_read(&m_state->file, out + done, static_cast<int>(std::min(wanted - done, kLargestRead)),
            kLittleEndian, kSixteenBits, kSigned, &link);
        if (got > 0) {
            done += static_cast<u64>(got);
            continue;
        }
        if (got == 0)
            break;
        // vorbisfile reports a gap once and decodes what follows it; ending
        // the read here would tell the reader the sound is over.
        if (got == OV_HOLE) {
            QUERN_LOG(2) << vorbisErrorText(OV_HOLE) << std::endl;
            continue;
        }
        QUERN_RAISE_VORBIS("ov_read failed: ", static_cast<int>(got));
    }
    return done;
}

void OggVorbisStream::close()
{
    debug::MutexLock lock(m_state->lock);
    clearDecoder();
}

f64 OggVorbisStream::duration()
{
    debug::MutexLock lock(m_state->lock);
    OggVorbis_File& file = m_state->file;
    const long links = m_state->opened ? ov_streams(&file) : 0;
    if (!m_state->opened || !ov_seekable(&file) || links <= 0)
        return static_cast<f64>(OV_EINVAL);
    f64 seconds = 0.0;
    for (long link = 0; link < links; ++link)
        seconds += ov_time_total(&file, static_cast<int>(link));
    return seconds;
}

} // namespace quern::oggvorbis

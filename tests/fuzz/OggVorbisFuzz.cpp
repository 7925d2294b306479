// The Ogg Vorbis stream on arbitrary bytes: recognised data is opened as the
// asset handler opens it, read to its end, measured, rewound and decoded whole
// into a sample buffer; anything else must end in the fatal path, never in a
// crash. A file the content tool accepts must play without a fatal error, so
// a disagreement is a crash.

#include "FuzzSupport.h"

#include "quern/audio/SampleBuffer.h"
#include "quern/oggvorbis/OggVorbisStream.h"
#include "quern/oggvorbis/VorbisFile.h"

#include <memory>
#include <sstream>
#include <string>

namespace {

using namespace quern;

// Vorbis can make many samples of few bytes: enough to cross every read path.
constexpr u64 kMostBytesRead = 8u << 20;

std::stringbuf* bufferOf(const u8* data, std::size_t size)
{
    return new std::stringbuf(std::string(reinterpret_cast<const char*>(data), size), std::ios::in);
}

} // namespace

// vorbisfile 1.3.7 loses a few bytes when a chained file's later link does
// not open (ov_clear does not free them): the library's leak, not the reader's.
extern "C" const char* __lsan_default_suppressions() { return "leak:libvorbisfile.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    fuzz::initialize();
    std::string reason;
    const bool accepted = oggvorbis::checkOggVorbisFile(data, size, reason);
    const bool finished = fuzz::runGuarded([&] {
        Ref holder(new oggvorbis::OggVorbisStream);
        auto& stream = *holder.get<oggvorbis::OggVorbisStream>();
        {
            std::unique_ptr<std::stringbuf> probe(bufferOf(data, size));
            audio::SampleFormat format;
            if (!stream.readFormat(probe.get(), format))
                return;
        }
        stream.openStream(bufferOf(data, size));
        char pcm[4096];
        u64 total = 0;
        for (u64 got = 1; got > 0 && total < kMostBytesRead; total += got)
            got = stream.readImpl(stream.source(), sizeof pcm, pcm);
        stream.duration();
        stream.reset();
        if (total < kMostBytesRead) {
            Ref buffer(new audio::SampleBuffer(stream));
            buffer.get<audio::SampleBuffer>()->duration();
        }
        stream.close();
        stream.readImpl(stream.source(), sizeof pcm, pcm);
    });
    if (accepted && !finished)
        __builtin_trap();
    return 0;
}

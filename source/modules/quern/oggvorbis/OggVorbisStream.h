#pragma once
// The sample stream that decodes Ogg Vorbis data as it is read, through
// vorbisfile over the stream buffer that holds the asset's bytes. Every
// decoder call takes the stream's own lock: the loader thread decodes small
// sounds whole while the mixer reads streams from its task.

#include "quern/Types.h"
#include "quern/audio/SampleStream.h"
#include "quern/debug/MutexImpl.h"

#include <vorbis/vorbisfile.h>

#include <memory>

namespace quern::oggvorbis {

class OggVorbisStream : public audio::SampleStream {
public:
    OggVorbisStream();
    ~OggVorbisStream() override;

    // False when the source holds no Ogg Vorbis data; fatal "ov_test_open
    // failed: " and the result text when it does but will not open. The format
    // is the stream's channels and rate as 16-bit signed little-endian samples.
    bool readFormat(std::streambuf* source, audio::SampleFormat& format) override;
    // Opens the decoder again from the first byte (fatal "ov_open failed: "
    // and the result text when it will not) and goes to the first sample.
    void reset() override;
    // 16-bit signed little-endian samples, whole frames only (a request
    // smaller than one frame gives nothing). A hole in the data is logged and
    // stepped over; only the end of the data makes the read short. Any other
    // decoding error is fatal "ov_read failed: " and the result text. A closed
    // decoder gives nothing.
    u64 readImpl(std::streambuf* source, u64 bytes, void* destination) override;
    void close() override;
    // The seconds of all links together; -131.0 (vorbisfile's invalid-argument
    // code) when the decoder is not open or its source cannot seek.
    f64 duration() override;

private:
    // The decoder record and the lock around every call on it, made together.
    struct DecoderState {
        OggVorbis_File file {};
        debug::MutexImpl lock;
        bool opened = false;
    };

    // Closes the decoder, then opens it on the source from where the source
    // stands; the result of the open (0 on success).
    int openDecoder(std::streambuf* source);
    void clearDecoder();
    // After an open: a seekable decoder goes to the first sample of the first
    // link (vorbisfile leaves it at the start of the last).
    void seekToFirstSample();

    std::unique_ptr<DecoderState> m_state;
};

} // namespace quern::oggvorbis

#pragma once
// The engine's source of decoded PCM audio. A stream recognises its data in a
// byte stream (readFormat), then hands out raw sample bytes on request; output
// channels read from it. Decoders read compressed data as they play; a
// SampleBuffer holds a whole sound in memory.

#include "quern/Types.h"
#include "quern/audio/SampleFormat.h"
#include "quern/language/RefCounted.h"

#include <iosfwd>
#include <streambuf>

namespace quern::audio {

class SampleBuffer;

class SampleStream : public RefCounted {
public:
    SampleStream() = default;
    // Destroys the source when the stream owns it.
    ~SampleStream() override;

    // Copies the format in; buffers convert their data to it.
    virtual void setFormat(const SampleFormat& format);
    // True when the stream has something to read from.
    virtual bool isOpen() const;
    // Recognises the source's data and fills the format; false when the data
    // is not of this stream's kind.
    virtual bool readFormat(std::streambuf* source, SampleFormat& format) = 0;
    // Rewinds to the first sample.
    virtual void reset() = 0;
    // The stream itself when it holds its whole data in memory, else null.
    virtual SampleBuffer* asSampleBuffer();
    // Writes the format text as one log line.
    virtual void describe(std::ostream& log);
    // Decodes up to `bytes` bytes into the destination and returns how many it
    // wrote; fewer than asked means the end of the data. `source` is the
    // stream's own source; implementations may use their own state instead.
    virtual u64 readImpl(std::streambuf* source, u64 bytes, void* destination) = 0;
    virtual void close() = 0;
    // Seconds; negative when the format is incomplete.
    virtual f64 duration() = 0;

    // Reads the format from the source; on success the stream takes the source
    // over and rewinds. Data the stream does not recognise is fatal
    // "Unrecognized sample stream!".
    void openStream(std::streambuf* source);

    // The duration, asked of `duration` only while the cached value is 0.0.
    f64 cachedDuration();

    const SampleFormat& format() const { return m_format; }
    std::streambuf* source() const { return m_source; }
    bool ownsSource() const { return m_ownsSource; }

protected:
    SampleFormat& mutableFormat() { return m_format; }
    void setCachedDuration(f64 seconds) { m_cachedDuration = seconds; }
    f64 storedDuration() const { return m_cachedDuration; }

private:
    SampleFormat m_format;
    std::streambuf* m_source = nullptr;
    f64 m_cachedDuration = 0.0;
    bool m_ownsSource = false;
};

} // namespace quern::audio

#include "quern/audio/SampleBuffer.h"

#include "quern/audio/SampleConversion.h"
#include "quern/platform/ErrorReporting.h"

#include <algorithm>
#include <cstring>
#include <ostream>
#include <vector>

namespace quern::audio {
namespace {

constexpr char kUnsupportedFormat[] = "Unsupported sample format";

bool samePcmLayout(const SampleFormat& a, const SampleFormat& b)
{
    return a.channels == b.channels && a.sampleRate == b.sampleRate && a.bitsPerSample == b.bitsPerSample
        && a.isSigned == b.isSigned;
}

// A block of buffer memory that grows by doubling and is handed to the
// element buffer whole, so filling copies each byte once from the stream.
class GrowingBlock {
public:
    ~GrowingBlock() { containers::Buffer::freeBufferMemory(m_data); }

    u8* reserveTail(u64 bytes)
    {
        if (m_size + bytes > m_capacity) {
            u64 capacity = std::max<u64>(m_capacity * 2, 64 * 1024);
            while (capacity < m_size + bytes)
                capacity *= 2;
            u8* grown = static_cast<u8*>(containers::Buffer::allocateBufferMemory(capacity));
            if (m_size)
                std::memcpy(grown, m_data, m_size);
            containers::Buffer::freeBufferMemory(m_data);
            m_data = grown;
            m_capacity = capacity;
        }
        return m_data + m_size;
    }
    void grow(u64 bytes) { m_size += bytes; }
    u64 size() const { return m_size; }
    u8* release()
    {
        u8* data = m_data;
        m_data = nullptr;
        m_size = m_capacity = 0;
        return data;
    }

private:
    u8* m_data = nullptr;
    u64 m_size = 0;
    u64 m_capacity = 0;
};

} // namespace

SampleBuffer::SampleBuffer(SampleStream& stream) { fill(stream); }

void SampleBuffer::fill(SampleStream& stream)
{
    const SampleFormat& format = stream.format();
    // An incomplete format gives no frame size, and a frame wider than a step
    // could never be read whole: either would never end.
    if (!format.isComplete() || format.bytesPerFrame > kFillStep)
        return;
    const u64 frameBytes = format.bytesPerFrame;
    const u64 framesPerStep = kFillStep / frameBytes;
    const u64 stepBytes = framesPerStep * frameBytes;

    stream.reset();
    GrowingBlock block;
    for (;;) {
        u64 frames = 0;
        if (stream.isOpen()) {
            u8* tail = block.reserveTail(kFillStep);
            const u64 bytes = std::min(stream.readImpl(stream.source(), stepBytes, tail), stepBytes);
            frames = bytes / frameBytes;
            block.grow(frames * frameBytes);
        }
        if (frames < framesPerStep)
            break;
    }
    stream.reset();

    if (block.size() == 0)
        return;
    const u64 total = block.size();
    SampleStream::setFormat(format);
    setCachedDuration(0.0);
    storeElementSize(frameBytes);
    adopt(block.release(), total, true);
    m_readPosition = 0;
}

void SampleBuffer::setFormat(const SampleFormat& target)
{
    const SampleFormat& current = format();
    if (samePcmLayout(current, target))
        return;
    if (byteSize() == 0 || !current.isComplete()) {
        SampleStream::setFormat(target);
        if (target.bytesPerFrame != 0)
            setElementSize(target.bytesPerFrame);
        return;
    }
    // Everything the conversion cannot do is refused before the data changes.
    const bool channelsChange = current.channels != target.channels;
    const bool supportedChannels
        = (current.channels == 2 && target.channels == 1) || (current.channels == 1 && target.channels == 2);
    if (channelsChange && !supportedChannels)
        QUERN_FATAL(kUnsupportedFormat);
    if (target.sampleRate == 0)
        QUERN_FATAL(kUnsupportedFormat);
    checkReadableFormat(current);
    checkWritableFormat(target);

    if (current.sampleRate == target.sampleRate)
        convertSamePace(target);
    else
        convertResampling(target);
    SampleStream::setFormat(target);
    setCachedDuration(0.0);
    m_readPosition = std::min<u64>(m_readPosition, elementCount());
}

void SampleBuffer::convertSamePace(const SampleFormat& target)
{
    const SampleFormat source = format();
    const u64 frames = elementCount();
    u8* block = static_cast<u8*>(containers::Buffer::allocateBufferMemory(frames * target.bytesPerFrame));
    // In pieces that stay in the cache: decode, change channels, encode.
    constexpr u64 kChunkFrames = 1024;
    const u32 wideChannels = std::max(source.channels, target.channels);
    std::vector<i32> values(kChunkFrames * wideChannels);
    std::vector<i32> mixed(kChunkFrames * wideChannels);
    const u8* data = lock(Lock::Read, 0, frames);
    for (u64 first = 0; first < frames; first += kChunkFrames) {
        const u64 count = std::min(kChunkFrames, frames - first);
        decodeSamples(data + first * source.bytesPerFrame, count, source, values.data());
        const i32* out = values.data();
        if (source.channels == 2 && target.channels == 1) {
            mixStereoToMono(values.data(), count, mixed.data());
            out = mixed.data();
        } else if (source.channels == 1 && target.channels == 2) {
            spreadMonoToStereo(values.data(), count, mixed.data());
            out = mixed.data();
        }
        encodeSamples(out, count, target, block + first * target.bytesPerFrame);
    }
    unlock();
    adoptFrames(block, frames, target);
}

void SampleBuffer::convertResampling(const SampleFormat& target)
{
    const SampleFormat source = format();
    const u64 frames = elementCount();
    const u32 channels = source.channels;
    std::vector<i32> values(frames * channels);
    decodeSamples(lock(Lock::Read, 0, frames), frames, source, values.data());
    unlock();

    const u64 newFrames = resampledFrameCount(frames, source.sampleRate, target.sampleRate);
    std::vector<i32> resampled(newFrames * std::max(channels, target.channels));
    resampleChannels(
        values.data(), frames, channels, source.sampleRate, target.sampleRate, resampled.data(), newFrames);
    values.clear();
    values.shrink_to_fit();
    if (channels == 2 && target.channels == 1)
        mixStereoToMono(resampled.data(), newFrames, resampled.data());
    else if (channels == 1 && target.channels == 2)
        spreadMonoToStereo(resampled.data(), newFrames, resampled.data());

    u8* block = static_cast<u8*>(containers::Buffer::allocateBufferMemory(newFrames * target.bytesPerFrame));
    encodeSamples(resampled.data(), newFrames, target, block);
    adoptFrames(block, newFrames, target);
}

void SampleBuffer::adoptFrames(u8* block, u64 frames, const SampleFormat& target)
{
    // The old block goes; the converted frames become the buffer's data.
    lock(Lock::Write, 0, frames);
    storeElementSize(target.bytesPerFrame);
    adopt(frames ? block : nullptr, frames * target.bytesPerFrame, frames != 0);
    if (!frames)
        containers::Buffer::freeBufferMemory(block);
    unlock();
}

bool SampleBuffer::isOpen() const { return byteSize() != 0; }

bool SampleBuffer::readFormat(std::streambuf*, SampleFormat&) { return false; }

void SampleBuffer::reset() { m_readPosition = 0; }

SampleBuffer* SampleBuffer::asSampleBuffer() { return this; }

void SampleBuffer::describe(std::ostream& log)
{
    SampleStream::describe(log);
    if (format().isComplete())
        log << "Duration: " << cachedDuration() << "s" << std::endl;
}

u64 SampleBuffer::readImpl(std::streambuf*, u64 bytes, void* destination)
{
    if (bytes == 0)
        return 0;
    const u64 frameBytes = elementSize();
    const u64 available = elementCount() - std::min<u64>(m_readPosition, elementCount());
    const u64 frames = std::min(bytes / frameBytes, available);
    if (frames == 0)
        return 0;
    const u8* data = lock(Lock::Read, m_readPosition, frames);
    std::memcpy(destination, data, frames * frameBytes);
    unlock();
    m_readPosition = static_cast<u32>(m_readPosition + frames);
    return frames * frameBytes;
}

void SampleBuffer::close() { m_readPosition = 0; }

f64 SampleBuffer::duration()
{
    const SampleFormat& f = format();
    if (!f.isComplete())
        return -1.0;
    if (byteSize() == 0)
        return 0.0;
    return static_cast<f64>(elementCount()) / f.sampleRate;
}

} // namespace quern::audio

#include "quern/audio/SampleStream.h"

#include "quern/language/Exception.h"

#include <ostream>

namespace quern::audio {

std::string formatText(const SampleFormat& format)
{
    std::string text = std::to_string(format.sampleRate) + "Hz, " + std::to_string(format.bitsPerSample) + "bit, ";
    if (format.channels == 1)
        text += "mono";
    else if (format.channels == 2)
        text += "stereo";
    else
        text += std::to_string(format.channels) + " channels";
    return text;
}

SampleStream::~SampleStream()
{
    if (m_ownsSource)
        delete m_source;
}

void SampleStream::setFormat(const SampleFormat& format) { m_format = format; }

bool SampleStream::isOpen() const { return m_source != nullptr; }

SampleBuffer* SampleStream::asSampleBuffer() { return nullptr; }

void SampleStream::describe(std::ostream& log) { log << formatText(m_format) << std::endl; }

void SampleStream::openStream(std::streambuf* source)
{
    if (!readFormat(source, m_format))
        QUERN_RAISE(Exception, "Unrecognized sample stream!");
    if (m_ownsSource && m_source != source)
        delete m_source;
    m_source = source;
    m_ownsSource = true;
    reset();
}

f64 SampleStream::cachedDuration()
{
    if (m_cachedDuration == 0.0)
        m_cachedDuration = duration();
    return m_cachedDuration;
}

} // namespace quern::audio

#include "quern/audio/AudioBackEndRegistry.h"

#include <cstdio>
#include <cstring>

namespace quern::audio {

AudioBackEndRegistry& AudioBackEndRegistry::instance()
{
    static AudioBackEndRegistry registry;
    return registry;
}

void AudioBackEndRegistry::add(const char* name, BackEndFactory factory)
{
    if (m_count >= kCapacity) {
        // Debugger output is standard error on this platform: one line serves both.
        std::fprintf(stderr, "%s (%d): %s\n", __FILE__, __LINE__, kFullMessage);
        std::fflush(stderr);
        return;
    }
    m_entries[m_count++] = Entry { name, factory };
}

const AudioBackEndRegistry::Entry* AudioBackEndRegistry::find(const char* name) const
{
    for (i32 i = 0; i < m_count; ++i) {
        if (std::strcmp(m_entries[i].name, name) == 0)
            return &m_entries[i];
    }
    return nullptr;
}

} // namespace quern::audio

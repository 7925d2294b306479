#pragma once
// The named audio back ends, in registration order. Filled once at start-up;
// the audio device opens the first one that works.

#include "quern/Types.h"

namespace quern::memory {
class Allocator;
}

namespace quern::audio {

class AudioBackEnd;

// A new back end made with the allocator, or null.
using BackEndFactory = AudioBackEnd* (*)(const char* name, memory::Allocator& allocator);

class AudioBackEndRegistry {
public:
    static constexpr i32 kCapacity = 8;
    static constexpr const char* kFullMessage = "Too many audio back-ends registered";

    struct Entry {
        const char* name = nullptr; // not copied: it must live until the process ends
        BackEndFactory factory = nullptr;
    };

    // The process-wide table.
    static AudioBackEndRegistry& instance();

    // Appends an entry; a full table stores nothing and writes one line with
    // kFullMessage to standard error.
    void add(const char* name, BackEndFactory factory);
    // The first entry of that name (exact bytes), or null.
    const Entry* find(const char* name) const;

    i32 count() const { return m_count; }
    const Entry& entry(i32 index) const { return m_entries[index]; }

private:
    Entry m_entries[kCapacity];
    i32 m_count = 0;
};

} // namespace quern::audio

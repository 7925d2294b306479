#include "quern/audio/NullBackEnd.h"

#include "quern/memory/Allocator.h"

#include <new>

namespace quern::audio {

AudioBackEnd* NullBackEnd::create(const char*, memory::Allocator& allocator)
{
    void* memory = allocator.allocate(sizeof(NullBackEnd), alignof(NullBackEnd));
    return memory ? new (memory) NullBackEnd : nullptr;
}

OutputChannel* NullBackEnd::createOutputChannel(SampleStream* stream) { return new NullOutputChannel(stream); }

void NullBackEnd::releaseOutputChannel(OutputChannel* channel) { delete channel; }

} // namespace quern::audio

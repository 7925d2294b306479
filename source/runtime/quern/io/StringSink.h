#pragma once
// A byte sink that appends to a string in memory (replays, and content written
// before it goes to a file).

#include "quern/io/ByteSink.h"

#include <string>

namespace quern {

class StringSink : public ByteSink {
public:
    u64 position() override { return text.size(); }
    void write(const void* data, u64 length) override
    {
        if (length != 0)
            text.append(static_cast<const char*>(data), length);
    }

    std::string text;
};

} // namespace quern

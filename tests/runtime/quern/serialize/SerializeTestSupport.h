#pragma once
// Byte helpers shared by the serialization tests.

#include "quern/Types.h"
#include "quern/io/StringSource.h"
#include "quern/memory/Allocator.h"
#include "support/CountingAllocator.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace quern::testing {

inline std::string bytes(std::initializer_list<int> values)
{
    std::string text;
    for (int v : values)
        text.push_back(static_cast<char>(v));
    return text;
}

template <typename T> std::string littleEndian(T value)
{
    std::string text(sizeof value, '\0');
    std::memcpy(text.data(), &value, sizeof value);
    return text;
}

// A source over a copy of `text` that lives as long as the source.
class OwnedSource : public StringSource {
public:
    explicit OwnedSource(std::string text) : OwnedSource(new std::string(std::move(text))) {}
    ~OwnedSource() override { delete m_text; }

private:
    explicit OwnedSource(std::string* text) : StringSource(text->data(), text->size()), m_text(text) {}
    std::string* m_text;
};

} // namespace quern::testing

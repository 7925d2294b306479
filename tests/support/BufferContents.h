#pragma once
// What a buffer holds, read back for comparison in tests.

#include "quern/graphics/IndexBuffer.h"

#include <vector>

namespace quern::test {

inline std::vector<u32> indicesOf(graphics::IndexBuffer& ib)
{
    std::vector<u32> out;
    graphics::IndexIterator it(ib);
    for (; !it.atEnd(); ++it)
        out.push_back(*it);
    return out;
}

} // namespace quern::test

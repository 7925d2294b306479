#pragma once
// A stream buffer that reads forward only and cannot seek or tell its size,
// as one over a pipe would: the media readers must still read it front to back.

#include "quern/Types.h"

#include <streambuf>
#include <vector>

namespace quern::testing {

class ForwardOnlyBuffer : public std::streambuf {
public:
    explicit ForwardOnlyBuffer(const std::vector<u8>& bytes)
        : m_bytes(bytes.begin(), bytes.end())
    {
        setg(m_bytes.data(), m_bytes.data(), m_bytes.data() + m_bytes.size());
    }

private:
    std::vector<char> m_bytes;
};

} // namespace quern::testing

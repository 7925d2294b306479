#pragma once
// Lets the standard stream library read one open depot entry (message catalogues,
// the sound library). Made on the stack by its user over an entry the user opened;
// closes the entry when it goes away.
//
// `Depot` is any type with `u64 read(u32 handle, u64 count, void* destination)`
// returning the bytes read (0 at the end) and `void close(u32 handle)`.

#include "quern/Types.h"

#include <algorithm>
#include <cstring>
#include <streambuf>

namespace quern::assets {

template <typename Depot>
class DepotStreamBuffer : public std::streambuf {
public:
    static constexpr u64 kBufferSize = 4096;
    static constexpr u64 kPutBackSize = 16;

    DepotStreamBuffer(Depot& depot, u32 handle) : m_depot(depot), m_handle(handle), m_handleOpen(true) {}
    ~DepotStreamBuffer() override
    {
        if (m_handleOpen)
            m_depot.close(m_handle);
    }
    DepotStreamBuffer(const DepotStreamBuffer&) = delete;
    DepotStreamBuffer& operator=(const DepotStreamBuffer&) = delete;

protected:
    int_type underflow() override
    {
        if (gptr() < egptr())
            return traits_type::to_int_type(*gptr());

        char* dataStart = m_buffer;
        if (eback() == m_buffer) {
            // Keep up to 16 bytes for put-back, but never more than the get area
            // holds: a short previous fill has fewer valid bytes than that.
            const u64 keep = std::min<u64>(kPutBackSize, static_cast<u64>(egptr() - eback()));
            std::memmove(m_buffer, egptr() - keep, keep);
            dataStart = m_buffer + keep;
            setg(m_buffer, dataStart, dataStart);
        }

        const u64 room = kBufferSize - static_cast<u64>(dataStart - m_buffer);
        const u64 n = std::min(room, m_depot.read(m_handle, room, dataStart));
        if (n == 0)
            return traits_type::eof();
        setg(m_buffer, dataStart, dataStart + n);
        return traits_type::to_int_type(*gptr());
    }

private:
    char m_buffer[kBufferSize];
    Depot& m_depot;
    u32 m_handle;
    bool m_handleOpen;
};

} // namespace quern::assets

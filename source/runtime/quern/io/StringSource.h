#pragma once
// A byte source over a block in memory that someone else owns.

#include "quern/io/ByteSource.h"

namespace quern {

class StringSource : public ByteSource {
public:
    StringSource() = default;
    StringSource(const void* data, u64 size) : m_data(static_cast<const u8*>(data)), m_size(size) {}

    u64 size() override { return m_size; }

protected:
    void implRead(void* destination, u64 count) override;
    void seek(u64) override {} // reads use the position directly

private:
    const u8* m_data = nullptr;
    u64 m_size = 0;
};

} // namespace quern

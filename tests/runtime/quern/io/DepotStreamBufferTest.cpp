#include "quern/io/DepotStreamBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <istream>
#include <string>

namespace {

using quern::u32;
using quern::u64;

// One entry in memory, served at most `chunk` bytes per read, as a depot's
// piecewise reads of a blob file come.
struct MemoryDepot {
    std::string entry;
    u64 chunk = 4096;
    u64 position = 0;
    int closes = 0;
    u32 closedHandle = 0;

    u64 read(u32, u64 count, void* destination)
    {
        const u64 n = std::min({count, chunk, static_cast<u64>(entry.size()) - position});
        std::memcpy(destination, entry.data() + position, n);
        position += n;
        return n;
    }
    void close(u32 handle)
    {
        ++closes;
        closedHandle = handle;
    }
};

class InspectableBuffer : public quern::assets::DepotStreamBuffer<MemoryDepot> {
public:
    using DepotStreamBuffer::DepotStreamBuffer;
    long putBackAvailable() const { return gptr() - eback(); }
};

std::string makeText(size_t size)
{
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>('a' + (i * 7) % 26);
    return text;
}

TEST(DepotStreamBuffer, StreamsTheWholeEntryWhateverTheFillSizes)
{
    for (u64 chunk : {1u, 5u, 15u, 16u, 17u, 4000u, 4096u}) {
        MemoryDepot depot;
        depot.entry = makeText(10000);
        depot.chunk = chunk;
        {
            quern::assets::DepotStreamBuffer<MemoryDepot> buffer(depot, 7);
            std::istream stream(&buffer);
            const std::string read(std::istreambuf_iterator<char>(stream), {});
            EXPECT_EQ(read, depot.entry) << "chunk " << chunk;
        }
        EXPECT_EQ(depot.closes, 1);
        EXPECT_EQ(depot.closedHandle, 7u);
    }
}

TEST(DepotStreamBuffer, EmptyEntryIsAtTheEndAtOnce)
{
    MemoryDepot depot;
    quern::assets::DepotStreamBuffer<MemoryDepot> buffer(depot, 1);
    std::istream stream(&buffer);
    EXPECT_EQ(stream.get(), std::char_traits<char>::eof());
    EXPECT_TRUE(stream.eof());
}

TEST(DepotStreamBuffer, PutBackAfterAShortFillKeepsOnlyWhatWasRead)
{
    MemoryDepot depot;
    depot.entry = "abcdefghij";
    depot.chunk = 5;
    InspectableBuffer buffer(depot, 1);
    std::istream stream(&buffer);

    char first[5];
    stream.read(first, 5);
    ASSERT_EQ(std::string(first, 5), "abcde");
    EXPECT_EQ(stream.get(), 'f'); // the refill

    // Only the five bytes of the first fill can be put back, not 16.
    EXPECT_EQ(buffer.putBackAvailable(), 6);
    stream.unget();
    stream.unget();
    EXPECT_EQ(stream.get(), 'e');
    for (int i = 0; i < 5; ++i)
        stream.unget();
    EXPECT_EQ(stream.get(), 'a');
}

TEST(DepotStreamBuffer, PutBackIsCappedAtSixteenBytes)
{
    MemoryDepot depot;
    depot.entry = makeText(5000);
    InspectableBuffer buffer(depot, 1);
    std::istream stream(&buffer);
    std::string skipped(4096, '\0');
    stream.read(skipped.data(), 4096);
    EXPECT_EQ(stream.get(), depot.entry[4096]);
    EXPECT_EQ(buffer.putBackAvailable(), 17);
}

} // namespace

#include "quern/assets/DepotSource.h"

#include "quern/assets/BlobDepot.h"
#include "quern/io/DepotStreamBuffer.h"
#include "quern/memory/DefaultAllocator.h"

#include "DepotTestContent.h"

#include <gtest/gtest.h>

#include <istream>
#include <string>

namespace {

using quern::u32;
using quern::u64;
using quern::assets::BlobDepot;
using quern::assets::DepotSource;
using quern::test::assetId;
using quern::test::DepotContent;
using quern::test::patternBytes;
using quern::test::RunLengthDecompressor;

TEST(DepotSource, ReadsTheEntryInOrderAndSeeksOnlyWhenMoved)
{
    DepotContent content;
    const std::string bytes = patternBytes(600);
    content.build({{"plain", bytes}, {"packed", bytes, "codec=rle"}});
    RunLengthDecompressor decompressor;
    BlobDepot depot;
    depot.setDecompressor(&decompressor);
    depot.openIndex(content.out().c_str());

    for (const char* name : {"plain", "packed"}) {
        const u32 handle = depot.open(assetId(name));
        {
            DepotSource source(depot, handle);
            EXPECT_EQ(source.size(), bytes.size());
            char a[100], b[50];
            source.read(a, sizeof a).read(b, sizeof b);
            EXPECT_EQ(std::string(a, 100) + std::string(b, 50), bytes.substr(0, 150)) << name;
            source.position = 590;
            char tail[10];
            source.read(tail, sizeof tail);
            EXPECT_EQ(std::string(tail, 10), bytes.substr(590)) << name;
            EXPECT_EQ(source.position, 600u);
        }
        // The caller's handle stays open.
        EXPECT_EQ(depot.openCount(), 1u);
        depot.close(handle);
    }
}

TEST(DepotSource, CreatedSourceOwnsItsHandle)
{
    DepotContent content;
    content.build({{"asset", "0123456789"}});
    BlobDepot depot;
    depot.openIndex(content.out().c_str());
    quern::memory::Allocator& allocator = *quern::memory::getDefaultAllocator();

    DepotSource* source = quern::assets::createDepotSource(allocator, depot, assetId("asset"));
    EXPECT_EQ(depot.openCount(), 1u);
    char digits[10];
    source->read(digits, sizeof digits);
    EXPECT_EQ(std::string(digits, 10), "0123456789");
    quern::assets::destroyDepotSource(allocator, source);
    EXPECT_EQ(depot.openCount(), 0u);
}

TEST(DepotSource, AnyDepotEntryStreamsThroughTheStreamBuffer)
{
    DepotContent content;
    content.build({{"catalogue", "first line\nsecond line\n", "codec=rle"}});
    RunLengthDecompressor decompressor;
    BlobDepot depot;
    depot.setDecompressor(&decompressor);
    depot.openIndex(content.out().c_str());
    quern::assets::Depot& base = depot;
    {
        quern::assets::DepotStreamBuffer<quern::assets::Depot> buffer(base, base.open(assetId("catalogue")));
        std::istream stream(&buffer);
        std::string first, second;
        std::getline(stream, first);
        std::getline(stream, second);
        EXPECT_EQ(first, "first line");
        EXPECT_EQ(second, "second line");
    }
    EXPECT_EQ(depot.openCount(), 0u);
}

TEST(DepotSourceDeathTest, ShortReadIsReadError)
{
    DepotContent content;
    content.build({{"asset", "0123456789"}});
    BlobDepot depot;
    depot.openIndex(content.out().c_str());
    const u32 handle = depot.open(assetId("asset"));
    DepotSource source(depot, handle);
    source.position = 8;
    char three[3];
    EXPECT_DEATH(source.read(three, sizeof three), "Read error");
    depot.close(handle);
}

} // namespace

#include "quern/assets/DefaultAssetLoaderContext.h"

#include "AssetLoadingTestSupport.h"

#include "quern/assets/DepotSource.h"
#include "quern/io/StringSource.h"
#include "quern/serialize/TextPODToken.h"

#include <gtest/gtest.h>

#include <istream>
#include <sstream>

namespace {

using quern::u32;
using quern::u64;
using quern::u8;
using quern::assets::DefaultAssetLoaderContext;
using quern::assets::ResourceRecord;
using quern::assets::resourceKey;
using quern::serialize::TextPODToken;
using quern::test::assetId;
using quern::test::cachedResource;
using quern::test::cacheResource;
using quern::test::CountingResource;
using quern::test::kTestType;
using quern::test::LoadingFixture;
using quern::test::patternBytes;

using LoaderContext = LoadingFixture;

bool isText(quern::serialize::PODToken& token) { return dynamic_cast<TextPODToken*>(&token) != nullptr; }

TEST_F(LoaderContext, TokenFormFollowsTheFirstByte)
{
    buildDepot({{"x", "x"}});
    DefaultAssetLoaderContext context(assetId("x"), *depot, cache);
    const struct {
        std::string bytes;
        bool text;
    } cases[] = {
        {"{\n\"a\":1 ,\n}", true}, {"\"name\":2 ,", true}, {"x", false},
        {std::string("\0{", 2), false}, {" {", false}, {"", false},
    };
    for (const auto& test : cases) {
        std::istringstream stream(test.bytes);
        EXPECT_EQ(isText(context.podToken(stream)), test.text) << "stream: " << test.bytes;
        if (!test.bytes.empty()) {
            EXPECT_EQ(stream.tellg(), std::streampos(0)) << "the byte is put back";
        }

        quern::StringSource source(test.bytes.data(), test.bytes.size());
        EXPECT_EQ(isText(context.podToken(source)), test.text) << "source: " << test.bytes;
        EXPECT_EQ(source.position, 0u);
    }
}

TEST_F(LoaderContext, TokenChoiceLeavesTheSourcePositionWhereItWas)
{
    buildDepot({{"x", "x"}});
    DefaultAssetLoaderContext context(assetId("x"), *depot, cache);
    const std::string bytes = "ab{cd";
    quern::StringSource source(bytes.data(), bytes.size());
    source.position = 2;
    EXPECT_TRUE(isText(context.podToken(source)));
    EXPECT_EQ(source.position, 2u);
    char next = 0;
    source.read(&next, 1);
    EXPECT_EQ(next, '{');
}

TEST_F(LoaderContext, CreateThenFindAndTheFirstResourceIsHeldUntilTheEnd)
{
    buildDepot({{"tree", "t"}});
    const u64 id = assetId("tree");
    {
        DefaultAssetLoaderContext context(id, *depot, cache);
        EXPECT_EQ(context.findResource(id, kTestType, 0), nullptr);

        ResourceRecord record;
        bool created = false;
        CountingResource* made = context.createResourceObject<CountingResource>(kTestType, 2, record, created,
                                                                                nullptr, 7);
        EXPECT_TRUE(created);
        EXPECT_EQ(record.key, id ^ kTestType ^ 2);
        EXPECT_EQ(record.reserved, 0u);
        EXPECT_EQ(made->value(), 7u);
        EXPECT_EQ(made->refCount(), 1);
        EXPECT_EQ(context.findResource(id, kTestType, 2), made);
        EXPECT_EQ(context.firstResource().handle, record.handle);
        EXPECT_EQ(cache.find(record.key)->handleCount, 1);

        ResourceRecord again;
        EXPECT_EQ(context.createResourceObject<CountingResource>(kTestType, 2, again, created, nullptr, 8), made);
        EXPECT_FALSE(created);
        EXPECT_EQ(cache.find(record.key)->handleCount, 2);
        cache.release(again.handle);
    }
    EXPECT_EQ(cache.find(id ^ kTestType ^ 2)->handleCount, 0) << "the context released its handle";
}

TEST_F(LoaderContext, RawCreateHandsOutCacheMemory)
{
    buildDepot({{"raw", "r"}});
    DefaultAssetLoaderContext context(assetId("raw"), *depot, cache);
    ResourceRecord record;
    EXPECT_TRUE(context.createResource(kTestType, 0, sizeof(CountingResource), alignof(CountingResource), record));
    ASSERT_NE(record.resource, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(record.resource) % alignof(CountingResource), 0u);
    quern::RefCounted::retain(new (record.resource) CountingResource());
    EXPECT_EQ(record.key, resourceKey(assetId("raw"), kTestType));
}

TEST_F(LoaderContext, OpenStreamHoldsTheWholeAsset)
{
    const std::string big = patternBytes(20000);
    const std::string exact = patternBytes(2 * DefaultAssetLoaderContext::kStreamReadSize, 3);
    buildDepot({{"big", big}, {"exact", exact}, {"none", ""}});
    for (const auto& [name, bytes] : {std::pair{"big", big}, {"exact", exact}, {"none", std::string()}}) {
        DefaultAssetLoaderContext context(assetId(name), *depot, cache);
        std::unique_ptr<std::streambuf> buffer = context.openStream();
        std::istream stream(buffer.get());
        const std::string read((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
        EXPECT_EQ(read, bytes) << name;
        EXPECT_EQ(depot->openCount(), 0u) << "the stream's entry is closed again";
    }
}

TEST_F(LoaderContext, OpenSourceOwnsItsOwnEntry)
{
    buildDepot({{"src", "source bytes"}});
    DefaultAssetLoaderContext context(assetId("src"), *depot, cache);
    quern::assets::DepotSource* source = context.openSource();
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(depot->openCount(), 1u);
    std::string bytes(source->size(), '\0');
    source->read(bytes.data(), bytes.size());
    EXPECT_EQ(bytes, "source bytes");
    quern::assets::destroyDepotSource(context.allocator(), source);
    EXPECT_EQ(depot->openCount(), 0u);
}

TEST_F(LoaderContext, ScratchFollowsTheHandlersRequest)
{
    buildDepot({{"s", "s"}});
    auto* handler = addHandler({.scratchBytes = 40});
    DefaultAssetLoaderContext context(assetId("s"), *depot, cache);
    context.allocateScratch(*handler);
    ASSERT_NE(context.scratch(), nullptr);
    EXPECT_EQ(context.scratchSize(), 40u);
    for (u64 i = 0; i < 40; ++i)
        EXPECT_EQ(static_cast<u8*>(context.scratch())[i], 0);
    context.freeScratch();
    EXPECT_EQ(context.scratch(), nullptr);
}

using LoaderContextDeathTest = LoadingFixture;

TEST_F(LoaderContextDeathTest, AFailedStreamIsFatal)
{
    buildDepot({{"x", "x"}});
    DefaultAssetLoaderContext context(assetId("x"), *depot, cache);
    std::istringstream stream("{}");
    stream.setstate(std::ios::failbit);
    EXPECT_DEATH(context.podToken(stream), "Error reading from file");
}

} // namespace

#include "quern/assets/BlobDepot.h"

#include "DepotTestContent.h"

#include "quern/io/LzhamDecompressor.h"
#include "quern/strings/PackedName.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using quern::u32;
using quern::u64;
using quern::assets::BlobDepot;
using quern::test::assetId;
using quern::test::ContentAsset;
using quern::test::DepotContent;
using quern::test::patternBytes;
using quern::test::RunLengthDecompressor;

std::string readAll(BlobDepot& depot, u32 handle)
{
    std::string bytes(depot.size(handle), '\0');
    const u64 n = depot.read(handle, bytes.size(), bytes.data());
    bytes.resize(n);
    return bytes;
}

std::string readAsset(BlobDepot& depot, const std::string& name)
{
    const u32 handle = depot.open(assetId(name));
    std::string bytes = readAll(depot, handle);
    depot.close(handle);
    return bytes;
}

TEST(BlobDepot, ServesEveryAssetFromItsBlobFile)
{
    DepotContent content;
    const std::vector<ContentAsset> assets = {
        { "first", "hello" },
        { "second", patternBytes(3000), "blob=textures" },
        { "third", std::string(), "" },
        { "fourth", patternBytes(100, 2), "blob=textures" },
    };
    content.build(assets);
    EXPECT_TRUE(std::filesystem::exists(content.outFile("misc.blob")));
    EXPECT_TRUE(std::filesystem::exists(content.outFile("textures.blob")));

    BlobDepot depot;
    depot.openIndex(content.out().c_str());
    for (const ContentAsset& asset : assets)
        EXPECT_EQ(readAsset(depot, asset.name), asset.bytes) << asset.name;
    EXPECT_EQ(depot.openCount(), 0u);
}

TEST(BlobDepot, BlobFileNamesComeFromPackedIds)
{
    const struct {
        u64 blobId;
        const char* fileName;
    } cases[] = {
        { 0, "misc.blob" },
        { quern::packName("textures"), "textures.blob" },
        { quern::packName("Level7"), "level7.blob" },
        { quern::packName("abcdefghijkl"), "abcdefghijkl.blob" },
    };
    for (const auto& test : cases) {
        char name[32];
        quern::assets::BlobFileDepot::blobFileName(test.blobId, name, sizeof name);
        EXPECT_STREQ(name, test.fileName);
    }
}

TEST(BlobDepot, PiecewiseReadsSeeksAndTheEndOfAnEntry)
{
    DepotContent content;
    const std::string bytes = patternBytes(1000);
    content.build({ { "before", "XXXX" }, { "asset", bytes }, { "after", "YYYY" } });
    BlobDepot depot;
    depot.openIndex(content.out().c_str());
    const u32 handle = depot.open(assetId("asset"));

    char buffer[2000];
    EXPECT_EQ(depot.read(handle, 400, buffer), 400u);
    EXPECT_EQ(std::string(buffer, 400), bytes.substr(0, 400));
    EXPECT_EQ(depot.read(handle, 2000, buffer), 600u);
    EXPECT_EQ(std::string(buffer, 600), bytes.substr(400));
    EXPECT_EQ(depot.read(handle, 10, buffer), 0u);

    depot.seek(handle, 990);
    EXPECT_EQ(depot.read(handle, 100, buffer), 10u);
    EXPECT_EQ(std::string(buffer, 10), bytes.substr(990));

    // Past the end nothing is served: not the next asset's bytes, not a huge count.
    depot.seek(handle, 5000);
    EXPECT_EQ(depot.read(handle, 100, buffer), 0u);
    depot.seek(handle, 0);
    EXPECT_EQ(depot.read(handle, 4, buffer), 4u);
    EXPECT_EQ(std::string(buffer, 4), bytes.substr(0, 4));
    depot.close(handle);
}

TEST(BlobDepot, EntriesOfOneBlobShareOneOpenFile)
{
    DepotContent content;
    content.build({ { "a", "aaaa", "blob=shared" }, { "b", "bbbbbb", "blob=shared" }, { "c", "c" } });
    BlobDepot depot;
    depot.openIndex(content.out().c_str());
    const u64 shared = quern::packName("shared");

    const u32 a = depot.open(assetId("a"));
    const u32 b = depot.open(assetId("b"));
    EXPECT_EQ(depot.files().blobFileCount(), 1u);
    EXPECT_EQ(depot.files().openEntryCount(shared), 2);

    // Interleaved reads of two entries of one file each keep their own place.
    char x[3], y[3];
    EXPECT_EQ(depot.read(a, 2, x), 2u);
    EXPECT_EQ(depot.read(b, 3, y), 3u);
    EXPECT_EQ(depot.read(a, 3, x), 2u);
    EXPECT_EQ(std::string(x, 2), "aa");
    EXPECT_EQ(std::string(y, 3), "bbb");

    depot.close(a);
    EXPECT_EQ(depot.files().openEntryCount(shared), 1);
    EXPECT_EQ(depot.files().blobFileCount(), 1u);
    EXPECT_EQ(readAll(depot, b), "bbb");
    depot.close(b);
}

TEST(BlobDepot, ServesMoreThanSixteenBlobFilesAtOnce)
{
    DepotContent content;
    std::vector<ContentAsset> assets;
    for (int i = 0; i < 20; ++i)
        assets.push_back({ "asset" + std::to_string(i), patternBytes(64, i), "blob=blob" + std::to_string(i) });
    content.build(assets);
    BlobDepot depot;
    depot.openIndex(content.out().c_str());

    std::vector<u32> handles;
    for (const ContentAsset& asset : assets)
        handles.push_back(depot.open(assetId(asset.name)));
    EXPECT_EQ(depot.files().blobFileCount(), 20u);
    for (size_t i = 0; i < assets.size(); ++i) {
        EXPECT_EQ(readAll(depot, handles[i]), assets[i].bytes) << assets[i].name;
        depot.close(handles[i]);
    }
}

TEST(BlobDepot, CompressedEntryIsExpandedOnceAndKeptUntilClosed)
{
    DepotContent content;
    const std::string bytes = patternBytes(5000);
    content.build({ { "packed", bytes, "codec=rle" } });
    RunLengthDecompressor decompressor;
    BlobDepot depot;
    depot.setDecompressor(&decompressor);
    depot.openIndex(content.out().c_str());
    ASSERT_LT(depot.files().entryAt(0).storedSize, bytes.size());

    const u32 handle = depot.open(assetId("packed"));
    EXPECT_EQ(depot.size(handle), bytes.size());
    std::string first(2500, '\0'), second(2500, '\0');
    EXPECT_EQ(depot.read(handle, 2500, first.data()), 2500u);
    EXPECT_EQ(depot.read(handle, 2500, second.data()), 2500u);
    EXPECT_EQ(first + second, bytes);
    EXPECT_EQ(decompressor.calls.load(), 1);

    char tail[8];
    EXPECT_EQ(depot.read(handle, 8, tail), 0u);
    depot.seek(handle, 1u << 20);
    EXPECT_EQ(depot.read(handle, 8, tail), 0u);
    depot.seek(handle, 0);
    EXPECT_EQ(readAll(depot, handle), bytes);
    EXPECT_EQ(decompressor.calls.load(), 1);
    depot.close(handle);

    // A new opening expands again.
    EXPECT_EQ(readAsset(depot, "packed"), bytes);
    EXPECT_EQ(decompressor.calls.load(), 2);
}

// A codec written to the plain interface (no report) is used as it is.
TEST(BlobDepot, ADecompressorWithoutReportsExpandsEntries)
{
    class PlainRunLength : public quern::io::Decompressor {
    public:
        void init() override { }
        u32 formatTag() const override { return quern::assetbuild::kRunLengthTag; }
        u32 decompress(quern::containers::Array& output, const void* input, u64 inputLength) override
        {
            u64 written = 0;
            quern::assetbuild::runLengthDecode(static_cast<const quern::u8*>(input), inputLength,
                static_cast<quern::u8*>(output.data()), output.count(), written);
            return checksum(output.data(), output.count());
        }
    };
    DepotContent content;
    const std::string bytes = patternBytes(3000);
    content.build({ { "packed", bytes, "codec=rle" } });
    PlainRunLength decompressor;
    BlobDepot depot;
    depot.setDecompressor(&decompressor);
    depot.openIndex(content.out().c_str());
    ASSERT_LT(depot.files().entryAt(0).storedSize, bytes.size());
    EXPECT_EQ(readAsset(depot, "packed"), bytes);
}

TEST(BlobDepot, EntriesWithAnotherTagAreServedAsStored)
{
    DepotContent content;
    content.build({ { "plain", "plain bytes" }, { "packed", std::string(300, 'z'), "codec=rle" } });

    RunLengthDecompressor decompressor;
    BlobDepot withCodec;
    withCodec.setDecompressor(&decompressor);
    withCodec.openIndex(content.out().c_str());
    EXPECT_EQ(readAsset(withCodec, "plain"), "plain bytes");
    EXPECT_EQ(decompressor.calls.load(), 0);

    // A tag of no codec the depot knows, other than LZHAM's, stays raw.
    BlobDepot without;
    without.openIndex(content.out().c_str());
    const u32 handle = without.open(assetId("packed"));
    std::string stored(16, '\0');
    stored.resize(without.read(handle, stored.size(), stored.data()));
    without.close(handle);
    EXPECT_EQ(stored,
        std::string("\xff"
                    "z"
                    "\x2d"
                    "z",
            4));
}

TEST(BlobDepot, RecordIsWrittenBackToItsOwnHandleWhenOthersCloseMeanwhile)
{
    DepotContent content;
    const std::string bytes = patternBytes(4000);
    content.build({ { "a", "aaaa" }, { "b", "bbbbbbbb" }, { "packed", bytes, "codec=rle" } });
    RunLengthDecompressor decompressor;
    BlobDepot depot;
    depot.setDecompressor(&decompressor);
    depot.openIndex(content.out().c_str());

    const u32 a = depot.open(assetId("a"));
    const u32 b = depot.open(assetId("b"));
    const u32 packed = depot.open(assetId("packed"));
    char two[2];
    ASSERT_EQ(depot.read(b, 2, two), 2u);
    // While the entry expands outside the lock, an earlier record goes away
    // and the later ones move up.
    decompressor.duringDecompress = [&] { depot.close(a); };

    std::string first(1000, '\0');
    EXPECT_EQ(depot.read(packed, 1000, first.data()), 1000u);
    std::string rest(3000, '\0');
    EXPECT_EQ(depot.read(packed, 3000, rest.data()), 3000u);
    EXPECT_EQ(first + rest, bytes);
    EXPECT_EQ(decompressor.calls.load(), 1);
    EXPECT_EQ(readAll(depot, b), "bbbbbb");
    depot.close(b);
    depot.close(packed);
    EXPECT_EQ(depot.openCount(), 0u);
}

TEST(BlobDepot, ParallelReadersOfDifferentEntries)
{
    DepotContent content;
    std::vector<ContentAsset> assets;
    for (int i = 0; i < 16; ++i)
        assets.push_back({ "asset" + std::to_string(i), patternBytes(3000 + i * 17, i),
            std::string(i % 2 ? "codec=rle " : "") + "blob=b" + std::to_string(i % 3) });
    content.build(assets);
    RunLengthDecompressor decompressor;
    BlobDepot depot;
    depot.setDecompressor(&decompressor);
    depot.openIndex(content.out().c_str());

    std::atomic<int> mismatches { 0 };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round)
                for (size_t i = t; i < assets.size(); i += 4) {
                    const u32 handle = depot.open(assetId(assets[i].name));
                    std::string bytes;
                    char chunk[700];
                    while (u64 n = depot.read(handle, sizeof chunk, chunk))
                        bytes.append(chunk, n);
                    depot.close(handle);
                    mismatches += bytes != assets[i].bytes;
                }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(depot.openCount(), 0u);
}

// ---- Files that must not be served ----

TEST(BlobDepotDeathTest, BadIndexFilesAreRejected)
{
    struct Case {
        const char* what;
        std::function<void(const DepotContent&)> damage;
    };
    const Case cases[] = {
        { "missing index", [](const DepotContent& c) { std::filesystem::remove(c.outFile("assets.index")); } },
        { "wrong magic", [](const DepotContent& c) { c.patch("assets.index", 0, "blob", 4); } },
        { "wrong version", [](const DepotContent& c) { c.patch("assets.index", 4, "\x03\0\0\0", 4); } },
        { "no entries", [](const DepotContent& c) { c.patch("assets.index", 8, "\0\0\0\0", 4); } },
        { "more entries than the file holds",
            [](const DepotContent& c) { c.patch("assets.index", 8, "\x03\0\0\0", 4); } },
        { "truncated header",
            [](const DepotContent& c) { std::filesystem::resize_file(c.outFile("assets.index"), 6); } },
        { "truncated entry",
            [](const DepotContent& c) { std::filesystem::resize_file(c.outFile("assets.index"), 12 + 56 + 20); } },
    };
    for (const Case& test : cases) {
        DepotContent content;
        content.build({ { "one", "1" }, { "two", "22" } });
        test.damage(content);
        EXPECT_DEATH(
            {
                BlobDepot depot;
                depot.openIndex(content.out().c_str());
            },
            "Invalid asset blob index")
            << test.what;
    }
}

TEST(BlobDepotDeathTest, UnknownAssetIsFatal)
{
    DepotContent content;
    content.build({ { "one", "1" } });
    BlobDepot depot;
    depot.openIndex(content.out().c_str());
    EXPECT_DEATH(depot.open(assetId("two")), "Asset not found");
}

TEST(BlobDepotDeathTest, MissingBlobFileIsFatal)
{
    DepotContent content;
    content.build({ { "one", "1", "blob=gone" } });
    std::filesystem::remove(content.outFile("gone.blob"));
    BlobDepot depot;
    depot.openIndex(content.out().c_str());
    EXPECT_DEATH(depot.open(assetId("one")), "File not found");
}

TEST(BlobDepotDeathTest, LzhamEntryWithoutLzhamDecompressorIsNeverServedRaw)
{
    DepotContent content;
    content.build({ { "packed", "not really compressed" } });
    content.patchIndex<u32>(0, 48, quern::io::LzhamDecompressor::kFormatTag);

    BlobDepot without;
    without.openIndex(content.out().c_str());
    EXPECT_DEATH(without.open(assetId("packed")), "LZHAM-compressed but the depot has no LZHAM decompressor");

    RunLengthDecompressor other;
    BlobDepot withOther;
    withOther.setDecompressor(&other);
    withOther.openIndex(content.out().c_str());
    EXPECT_DEATH(withOther.open(assetId("packed")), "LZHAM-compressed but the depot has no LZHAM decompressor");
}

TEST(BlobDepotDeathTest, LzhamEntryWithoutTheCodecLibraryNamesTheCodec)
{
    DepotContent content;
    content.build({ { "packed", "not really compressed" } });
    content.patchIndex<u32>(0, 48, quern::io::LzhamDecompressor::kFormatTag);
    quern::io::LzhamDecompressor lzham("libno-such-lzham-codec.so");
    lzham.init();
    BlobDepot depot;
    depot.setDecompressor(&lzham);
    depot.openIndex(content.out().c_str());
    const u32 handle = depot.open(assetId("packed"));
    char buffer[64];
    EXPECT_DEATH(depot.read(handle, sizeof buffer, buffer), "LZHAM codec library is not available");
    depot.close(handle);
}

TEST(BlobDepotDeathTest, DamagedCompressedEntriesAreFatal)
{
    struct Case {
        const char* what;
        std::function<void(const DepotContent&)> damage;
        const char* message;
    };
    const Case cases[] = {
        { "blob file cut short", [](const DepotContent& c) { std::filesystem::resize_file(c.outFile("misc.blob"), 3); },
            "Short read of compressed asset" },
        { "codec refuses the data", [](const DepotContent& c) { c.patch("misc.blob", 0, "\0", 1); },
            "Failed to decompress asset" },
        { "expands to fewer bytes than the asset size", [](const DepotContent& c) { c.patchIndex<u64>(0, 24, 900); },
            "has 800 bytes instead of 900" },
        { "expands to more bytes than the asset size", [](const DepotContent& c) { c.patchIndex<u64>(0, 24, 700); },
            "Failed to decompress asset" },
    };
    for (const Case& test : cases) {
        DepotContent content;
        content.build({ { "packed", std::string(400, 'p') + std::string(400, 'q'), "codec=rle" } });
        test.damage(content);
        RunLengthDecompressor decompressor;
        BlobDepot depot;
        depot.setDecompressor(&decompressor);
        depot.openIndex(content.out().c_str());
        const u32 handle = depot.open(assetId("packed"));
        std::string buffer(1000, '\0');
        EXPECT_DEATH(depot.read(handle, buffer.size(), buffer.data()), test.message) << test.what;
        depot.close(handle);
    }
}

TEST(BlobDepotDeathTest, StaleHandleIsFatal)
{
    DepotContent content;
    content.build({ { "one", "1" } });
    BlobDepot depot;
    depot.openIndex(content.out().c_str());
    const u32 handle = depot.open(assetId("one"));
    depot.close(handle);
    char c;
    EXPECT_DEATH(depot.read(handle, 1, &c), "Invalid depot handle");
    EXPECT_DEATH(depot.close(handle), "Invalid depot handle");
}

} // namespace

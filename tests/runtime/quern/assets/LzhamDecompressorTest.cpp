#include "quern/io/LzhamDecompressor.h"

#include "quern/platform/DynamicLibrary.h"
#include "quern/strings/Hashes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using quern::u32;
using quern::u64;
using quern::u8;
using quern::containers::Array;
using quern::io::DecompressReport;
using quern::io::LzhamDecompressor;

// The stand-in codec library counts its calls and keeps the last parameters.
class StandInCodec {
public:
    StandInCodec()
        : m_library(quern::platform::loadLibraryQuietly(QUERN_TEST_LZHAM_CODEC))
    {
        if (!m_library)
            return;
        m_counts = reinterpret_cast<void (*)(int*)>(quern::platform::getLibrarySymbol(m_library, "standin_counts"));
        m_parameters = reinterpret_cast<void (*)(void*)>(
            quern::platform::getLibrarySymbol(m_library, "standin_last_parameters"));
    }
    ~StandInCodec() { quern::platform::unloadDynamicLibrary(m_library); }
    bool loaded() const { return m_counts && m_parameters; }

    struct Counts {
        int inits, reinits, deinits, memoryCalls;
    };
    Counts counts() const
    {
        int values[4];
        m_counts(values);
        return { values[0], values[1], values[2], values[3] };
    }
    LzhamDecompressor::Parameters lastParameters() const
    {
        LzhamDecompressor::Parameters p;
        m_parameters(&p);
        return p;
    }

private:
    quern::platform::LibraryHandle m_library;
    void (*m_counts)(int*) = nullptr;
    void (*m_parameters)(void*) = nullptr;
};

TEST(LzhamDecompressor, TagIsLzhmInMemoryOrder)
{
    LzhamDecompressor decompressor("libno-such-lzham-codec.so");
    const u32 tag = decompressor.formatTag();
    EXPECT_EQ(tag, 0x4D485A4Cu);
    EXPECT_EQ(std::memcmp(&tag, "LZHM", 4), 0);
}

TEST(LzhamDecompressor, WithoutTheLibraryInitOnlyReports)
{
    LzhamDecompressor decompressor("libno-such-lzham-codec.so");
    EXPECT_FALSE(decompressor.isAvailable());
    decompressor.init();
    decompressor.init();
    EXPECT_FALSE(decompressor.hasState());
    EXPECT_EQ(decompressor.checksum("123456789", 9), 0xCBF43926u);
}

TEST(LzhamDecompressorDeathTest, DecompressingWithoutTheLibraryNamesTheCodec)
{
    LzhamDecompressor decompressor("libno-such-lzham-codec.so");
    decompressor.init();
    Array output(16, 1, 16, nullptr);
    const u8 input[2] = { 16, 'x' };
    EXPECT_DEATH(decompressor.decompress(output, input, sizeof input), "LZHAM codec library is not available");
}

TEST(LzhamDecompressor, PassesItsParametersAndReturnsTheOutputsCrc)
{
    StandInCodec codec;
    ASSERT_TRUE(codec.loaded());
    LzhamDecompressor decompressor(QUERN_TEST_LZHAM_CODEC);
    ASSERT_TRUE(decompressor.isAvailable());

    Array output(10, 1, 16, nullptr);
    const u8 input[4] = { 4, 'a', 6, 'b' };
    DecompressReport report;
    const u32 crc = decompressor.decompressWithReport(output, input, sizeof input, report);
    EXPECT_EQ(std::string(output.dataAs<char>(), 10), "aaaabbbbbb");
    EXPECT_EQ(crc, quern::strings::crc32("aaaabbbbbb", 10));
    EXPECT_TRUE(report.succeeded);
    EXPECT_EQ(report.outputSize, 10u);

    const LzhamDecompressor::Parameters p = codec.lastParameters();
    EXPECT_EQ(p.structSize, 40u);
    EXPECT_EQ(p.dictionarySizeLog2, 29u);
    EXPECT_EQ(p.tableUpdateRate, 0u);
    EXPECT_EQ(p.flags, 0u);
    EXPECT_EQ(p.seedByteCount, 0u);
    EXPECT_EQ(p.seedBytes, nullptr);
}

TEST(LzhamDecompressor, ThePlainInterfaceExpandsTheSameBytes)
{
    LzhamDecompressor decompressor(QUERN_TEST_LZHAM_CODEC);
    ASSERT_TRUE(decompressor.isAvailable());
    quern::io::Decompressor& plain = decompressor;
    Array output(6, 1, 16, nullptr);
    const u8 input[4] = { 2, 'k', 4, 'm' };
    EXPECT_EQ(plain.decompress(output, input, sizeof input), quern::strings::crc32("kkmmmm", 6));
    EXPECT_EQ(std::string(output.dataAs<char>(), 6), "kkmmmm");
}

TEST(LzhamDecompressor, EmptyOutputOfEmptyInputHasCrcZero)
{
    LzhamDecompressor decompressor(QUERN_TEST_LZHAM_CODEC);
    ASSERT_TRUE(decompressor.isAvailable());
    Array output(0, 1, 16, nullptr);
    DecompressReport report;
    EXPECT_EQ(decompressor.decompressWithReport(output, nullptr, 0, report), 0u);
    EXPECT_TRUE(report.succeeded);
}

TEST(LzhamDecompressor, FailingCodecStatusIsReportedWithTheBuffersCrc)
{
    LzhamDecompressor decompressor(QUERN_TEST_LZHAM_CODEC);
    Array output(4, 1, 16, nullptr);
    std::memset(output.data(), 0, 4);
    const u8 input[2] = { 9, 'x' }; // more than the output holds
    DecompressReport report;
    const u32 crc = decompressor.decompressWithReport(output, input, sizeof input, report);
    EXPECT_FALSE(report.succeeded);
    EXPECT_NE(report.codecStatus, LzhamDecompressor::kStatusSuccess);
    EXPECT_EQ(crc, quern::strings::crc32(output.data(), 4));
}

TEST(LzhamDecompressor, InitCreatesOneStateAndReinitialisesIt)
{
    StandInCodec codec;
    ASSERT_TRUE(codec.loaded());
    const StandInCodec::Counts before = codec.counts();
    {
        LzhamDecompressor decompressor(QUERN_TEST_LZHAM_CODEC);
        decompressor.init();
        EXPECT_TRUE(decompressor.hasState());
        decompressor.init();
        const StandInCodec::Counts during = codec.counts();
        EXPECT_EQ(during.inits - before.inits, 1);
        EXPECT_EQ(during.reinits - before.reinits, 1);
        EXPECT_EQ(codec.lastParameters().dictionarySizeLog2, 29u);
    }
    EXPECT_EQ(codec.counts().deinits - before.deinits, 1);
}

} // namespace

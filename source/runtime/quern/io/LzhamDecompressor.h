#pragma once
// The LZHAM decompressor of the blob depot. The codec is not linked in: its
// shared library is loaded at run time, and without it every LZHAM entry is a
// fatal error rather than bytes served as an asset.

#include "quern/io/Decompressor.h"
#include "quern/platform/DynamicLibrary.h"

#include <cstddef>

namespace quern::io {

class LzhamDecompressor : public Decompressor {
public:
    // "LZHM" in memory order.
    static constexpr u32 kFormatTag = makeFormatTag('L', 'Z', 'H', 'M');
    // A 512 MiB window, as the blobs were compressed with.
    static constexpr u32 kDictionarySizeLog2 = 29;

    // Loads the codec library: `libraryName` when given, else the first of
    // the usual names that loads.
    explicit LzhamDecompressor(const char* libraryName = nullptr);
    ~LzhamDecompressor() override;
    LzhamDecompressor(const LzhamDecompressor&) = delete;
    LzhamDecompressor& operator=(const LzhamDecompressor&) = delete;

    // Creates the kept codec state, or resets it when it exists. Logs that the
    // codec is not available when its library could not be loaded.
    void init() override;
    u32 formatTag() const override { return m_formatTag; }

    // Use a codec state of their own for each call. Fatal when the codec
    // library is not available.
    u32 decompress(containers::Array& output, const void* input, u64 inputLength) override;
    u32 decompressWithReport(
        containers::Array& output, const void* input, u64 inputLength, DecompressReport& report) override;

    bool isAvailable() const { return m_codec.memoryDecompress != nullptr; }
    bool hasState() const { return m_state != nullptr; }

    // The names tried when none is given, in order.
    static const char* const kLibraryNames[];
    static const u64 kLibraryNameCount;

    // The codec's decompression parameter record.
    struct Parameters {
        u32 structSize;
        u32 dictionarySizeLog2;
        u32 tableUpdateRate;
        u32 flags;
        u32 seedByteCount;
        const void* seedBytes;
        u32 tableMaxUpdateInterval;
        u32 tableUpdateIntervalSlowRate;
    };
    static_assert(sizeof(Parameters) == 40, "the codec expects a 40-byte parameter record");
    // The codec's status that means a complete, valid stream.
    static constexpr i32 kStatusSuccess = 3;

private:
    using InitFunction = void* (*)(const Parameters*);
    using ReinitFunction = void* (*)(void*, const Parameters*);
    using DeinitFunction = u32 (*)(void*);
    using MemoryFunction = i32 (*)(const Parameters*, u8*, std::size_t*, const u8*, std::size_t, u32*);

    struct Codec {
        platform::LibraryHandle library = nullptr;
        InitFunction init = nullptr;
        ReinitFunction reinit = nullptr;
        DeinitFunction deinit = nullptr;
        MemoryFunction memoryDecompress = nullptr;
    };

    static Parameters parameters();
    bool bind(const char* libraryName);
    [[noreturn]] static void failUnavailable();

    u32 m_formatTag = kFormatTag;
    void* m_state = nullptr;
    Codec m_codec;
    char m_libraryName[64] = {};
};

} // namespace quern::io

#include "quern/io/LzhamDecompressor.h"

#include "quern/debug/Log.h"
#include "quern/platform/ErrorReporting.h"

#include <cstring>

namespace quern::io {

const char* const LzhamDecompressor::kLibraryNames[] = {
    "liblzham.so",
    "liblzham.so.1",
    "liblzham.so.0",
    "liblzhamdll.so",
    "liblzhamdecomp.so",
};
const u64 LzhamDecompressor::kLibraryNameCount = sizeof(kLibraryNames) / sizeof(kLibraryNames[0]);

LzhamDecompressor::LzhamDecompressor(const char* libraryName)
{
    if (libraryName) {
        bind(libraryName);
        return;
    }
    for (u64 i = 0; i < kLibraryNameCount; ++i)
        if (bind(kLibraryNames[i]))
            return;
}

LzhamDecompressor::~LzhamDecompressor()
{
    if (m_state && m_codec.deinit)
        m_codec.deinit(m_state);
    m_state = nullptr;
    platform::unloadDynamicLibrary(m_codec.library);
}

bool LzhamDecompressor::bind(const char* libraryName)
{
    const platform::LibraryResult loaded = platform::loadDynamicLibrary(libraryName);
    if (!loaded.handle)
        return false;
    Codec codec;
    codec.library = loaded.handle;
    codec.init = reinterpret_cast<InitFunction>(platform::getLibrarySymbol(loaded.handle, "lzham_decompress_init"));
    codec.reinit
        = reinterpret_cast<ReinitFunction>(platform::getLibrarySymbol(loaded.handle, "lzham_decompress_reinit"));
    codec.deinit
        = reinterpret_cast<DeinitFunction>(platform::getLibrarySymbol(loaded.handle, "lzham_decompress_deinit"));
    codec.memoryDecompress
        = reinterpret_cast<MemoryFunction>(platform::getLibrarySymbol(loaded.handle, "lzham_decompress_memory"));
    if (!codec.init || !codec.reinit || !codec.deinit || !codec.memoryDecompress) {
        // A library of that name without the decompression entry points is not the codec.
        platform::unloadDynamicLibrary(loaded.handle);
        return false;
    }
    m_codec = codec;
    std::strncpy(m_libraryName, libraryName, sizeof m_libraryName - 1);
    return true;
}

LzhamDecompressor::Parameters LzhamDecompressor::parameters()
{
    Parameters p {};
    p.structSize = sizeof(Parameters);
    p.dictionarySizeLog2 = kDictionarySizeLog2;
    return p;
}

void LzhamDecompressor::init()
{
    if (!isAvailable()) {
        QUERN_LOG(2) << "The LZHAM codec is not available: no LZHAM library could be loaded; "
                        "compressed assets cannot be read"
                     << std::endl;
        return;
    }
    const Parameters p = parameters();
    if (!m_state) {
        m_state = m_codec.init(&p);
    } else {
        void* state = m_codec.reinit(m_state, &p);
        if (state)
            m_state = state;
    }
    if (!m_state)
        QUERN_LOG(2) << "The LZHAM codec refused to create a decompression state" << std::endl;
}

void LzhamDecompressor::failUnavailable()
{
    QUERN_FATAL("Cannot decompress an LZHAM-compressed asset: the LZHAM codec library is not available");
}

u32 LzhamDecompressor::decompress(containers::Array& output, const void* input, u64 inputLength)
{
    DecompressReport ignored;
    return decompressWithReport(output, input, inputLength, ignored);
}

u32 LzhamDecompressor::decompressWithReport(
    containers::Array& output, const void* input, u64 inputLength, DecompressReport& report)
{
    if (!isAvailable())
        failUnavailable();
    const u64 capacity = output.count() * output.elementSize();
    const Parameters p = parameters();
    std::size_t written = capacity;
    u32 adler = 0;
    const i32 status = m_codec.memoryDecompress(
        &p, static_cast<u8*>(output.data()), &written, static_cast<const u8*>(input), inputLength, &adler);
    report.codecStatus = status;
    report.succeeded = status == kStatusSuccess;
    report.outputSize = written;
    if (!report.succeeded)
        QUERN_LOG(2) << "LZHAM decompression failed with codec status " << status << std::endl;
    return checksum(output.data(), capacity);
}

} // namespace quern::io

// Exports the LZHAM decompression entry points over the run-length test format
// (pairs of run length, byte), and records how it was called so the tests can
// check the parameters the decompressor passes.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

struct Parameters {
    std::uint32_t structSize;
    std::uint32_t dictionarySizeLog2;
    std::uint32_t tableUpdateRate;
    std::uint32_t flags;
    std::uint32_t seedByteCount;
    const void* seedBytes;
    std::uint32_t tableMaxUpdateInterval;
    std::uint32_t tableUpdateIntervalSlowRate;
};

constexpr int kSuccess = 3;
constexpr int kFailedBadCode = 8;
constexpr int kFailedDestinationTooSmall = 6;

Parameters g_lastParameters{};
int g_inits = 0;
int g_reinits = 0;
int g_deinits = 0;
int g_memoryCalls = 0;
int g_state = 0;

} // namespace

extern "C" {

__attribute__((visibility("default"))) void* lzham_decompress_init(const Parameters* parameters)
{
    g_lastParameters = *parameters;
    ++g_inits;
    return &g_state;
}

__attribute__((visibility("default"))) void* lzham_decompress_reinit(void* state, const Parameters* parameters)
{
    g_lastParameters = *parameters;
    ++g_reinits;
    return state;
}

__attribute__((visibility("default"))) std::uint32_t lzham_decompress_deinit(void*)
{
    ++g_deinits;
    return 1;
}

__attribute__((visibility("default"))) int lzham_decompress_memory(const Parameters* parameters,
                                                                  std::uint8_t* destination,
                                                                  std::size_t* destinationLength,
                                                                  const std::uint8_t* source, std::size_t sourceLength,
                                                                  std::uint32_t* adler)
{
    g_lastParameters = *parameters;
    ++g_memoryCalls;
    *adler = 1;
    const std::size_t capacity = *destinationLength;
    std::size_t written = 0;
    int status = kSuccess;
    if (sourceLength % 2 != 0)
        status = kFailedBadCode;
    for (std::size_t i = 0; status == kSuccess && i < sourceLength; i += 2) {
        const std::size_t run = source[i];
        if (run == 0) {
            status = kFailedBadCode;
        } else if (written + run > capacity) {
            status = kFailedDestinationTooSmall;
        } else {
            std::memset(destination + written, source[i + 1], run);
            written += run;
        }
    }
    *destinationLength = written;
    return status;
}

__attribute__((visibility("default"))) void standin_counts(int* counts)
{
    counts[0] = g_inits;
    counts[1] = g_reinits;
    counts[2] = g_deinits;
    counts[3] = g_memoryCalls;
}

__attribute__((visibility("default"))) void standin_last_parameters(void* out)
{
    std::memcpy(out, &g_lastParameters, sizeof g_lastParameters);
}

} // extern "C"

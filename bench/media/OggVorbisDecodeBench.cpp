// Megabytes of PCM per second from the Ogg Vorbis stream (readImpl in the
// pieces a streaming buffer asks for) against a plain vorbisfile loop of
// ov_read over the same bytes in memory: a 60-second stereo 44.1 kHz sound.

#include "support/RatioReporter.h"

#include "support/MediaFiles.h"

#include "quern/memory/DefaultAllocator.h"
#include "quern/oggvorbis/OggVorbisStream.h"

#include <vorbis/vorbisfile.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>

namespace {

using quern::u64;
using quern::u8;
namespace media = quern::testing::media;

constexpr u64 kPiece = 16384;

const media::Bytes& sound()
{
    static const media::Bytes bytes = [] {
        const media::fs::path path = media::oggVorbis(
            QUERN_BENCH_MEDIA_DIR, "sweeps-60s.ogg", 44100, 2, "synth 60 sine 100-4000 sine 3000-200 vol 0.6");
        if (path.empty()) {
            std::fprintf(stderr, "sox or oggenc could not make the sound\n");
            std::exit(1);
        }
        return media::readFile(path);
    }();
    return bytes;
}

u64 g_pcmBytes = 0;

void BM_OggVorbisStream(benchmark::State& state)
{
    const media::Bytes& file = sound();
    std::vector<u8> piece(kPiece);
    for (auto _ : state) {
        quern::Ref held(new quern::oggvorbis::OggVorbisStream);
        auto& stream = *held.get<quern::oggvorbis::OggVorbisStream>();
        stream.openStream(new std::stringbuf(std::string(file.begin(), file.end()), std::ios::in));
        u64 total = 0;
        for (u64 got = kPiece; got == kPiece; total += got)
            got = stream.readImpl(stream.source(), kPiece, piece.data());
        g_pcmBytes = total;
    }
    state.SetBytesProcessed(static_cast<int64_t>(g_pcmBytes) * state.iterations());
}
BENCHMARK(BM_OggVorbisStream)->Unit(benchmark::kMillisecond)->MinTime(3.0);

struct Memory {
    const u8* data;
    u64 size;
    u64 position;
};

size_t readMemory(void* out, size_t size, size_t count, void* source)
{
    Memory& memory = *static_cast<Memory*>(source);
    const u64 bytes = std::min<u64>(size * count, memory.size - memory.position);
    std::memcpy(out, memory.data + memory.position, bytes);
    memory.position += bytes;
    return size ? bytes / size : 0;
}

int seekMemory(void* source, ogg_int64_t offset, int origin)
{
    Memory& memory = *static_cast<Memory*>(source);
    const ogg_int64_t base = origin == SEEK_CUR ? static_cast<ogg_int64_t>(memory.position)
        : origin == SEEK_END                    ? static_cast<ogg_int64_t>(memory.size)
                                                : 0;
    if (base + offset < 0 || base + offset > static_cast<ogg_int64_t>(memory.size))
        return -1;
    memory.position = static_cast<u64>(base + offset);
    return 0;
}

long tellMemory(void* source) { return static_cast<long>(static_cast<Memory*>(source)->position); }

void BM_PlainVorbisfile(benchmark::State& state)
{
    const media::Bytes& file = sound();
    std::vector<char> piece(kPiece);
    const ov_callbacks callbacks = { readMemory, seekMemory, nullptr, tellMemory };
    u64 total = 0;
    for (auto _ : state) {
        Memory memory { file.data(), file.size(), 0 };
        OggVorbis_File vorbis;
        ov_open_callbacks(&memory, &vorbis, nullptr, 0, callbacks);
        total = 0;
        int link = 0;
        for (long got = 1; got > 0; total += static_cast<u64>(got))
            got = ov_read(&vorbis, piece.data(), static_cast<int>(kPiece), 0, 2, 1, &link);
        ov_clear(&vorbis);
    }
    if (total != g_pcmBytes)
        state.SkipWithError("the stream and the plain loop decoded different amounts");
    state.SetBytesProcessed(static_cast<int64_t>(total) * state.iterations());
}
BENCHMARK(BM_PlainVorbisfile)->Unit(benchmark::kMillisecond)->MinTime(3.0);

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    benchmark::Initialize(&argc, argv);
    sound(); // made before any timing
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::map<std::string, double> t; // milliseconds per sound, keyed without run options
    for (const auto& [name, milliseconds] : reporter.seconds)
        t[name.substr(0, name.find('/'))] = milliseconds;
    const double megabytes = static_cast<double>(g_pcmBytes) / (1024.0 * 1024.0);
    for (const char* name : { "BM_OggVorbisStream", "BM_PlainVorbisfile" })
        if (t.count(name))
            std::printf("%s: %.1f MB/s of PCM\n", name, megabytes / (t[name] / 1000.0));
    if (t.count("BM_OggVorbisStream") && t.count("BM_PlainVorbisfile"))
        std::printf(
            "OggVorbisStream / plain ov_read throughput: %.2fx\n", t["BM_PlainVorbisfile"] / t["BM_OggVorbisStream"]);
    benchmark::Shutdown();
    quern::memory::shutdownDefaultAllocators();
    return 0;
}

// Opening, reading whole and closing 10,000 assets of 4 KiB through the
// file-system depot and through the blob depot, against plain read() of the
// same bytes from one file, in the same run; prints the throughput ratios.

#include "quern/assets/BlobDepot.h"
#include "quern/assets/FileSystemDepot.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/strings/Hashes.h"

#include "ContentBuilder.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>
#include "support/RatioReporter.h"

namespace {

namespace fs = std::filesystem;
using quern::u32;
using quern::u64;

constexpr int kAssetCount = 10'000;
constexpr u64 kAssetSize = 4096;

struct Content {
    fs::path root;
    std::vector<u64> ids;
};
Content g_content;

bool buildContent()
{
    std::random_device random;
    g_content.root = fs::temp_directory_path() / ("quern-depot-bench-" + std::to_string(random()));
    const fs::path source = g_content.root / "src";
    fs::create_directories(source);
    std::vector<quern::assetbuild::BuiltAsset> assets;
    for (int i = 0; i < kAssetCount; ++i) {
        quern::assetbuild::BuiltAsset asset;
        asset.name = "asset" + std::to_string(i);
        asset.assetId = quern::strings::murmurHash64A(asset.name.data(), asset.name.size(), 0);
        asset.bytes.assign(kAssetSize, static_cast<quern::u8>(i));
        g_content.ids.push_back(asset.assetId);
        assets.push_back(std::move(asset));
    }
    std::string error;
    if (!quern::assetbuild::writeFileSystemDepot(assets, (g_content.root / "files").string(), error) ||
        !quern::assetbuild::writeBlobDepot(assets, (g_content.root / "blob").string(), error)) {
        std::fprintf(stderr, "cannot build the benchmark content: %s\n", error.c_str());
        return false;
    }
    return true;
}

template <class Depot> void readEveryAsset(benchmark::State& state, Depot& depot)
{
    std::vector<char> buffer(kAssetSize);
    for (auto _ : state) {
        for (u64 id : g_content.ids) {
            const u32 handle = depot.open(id);
            const u64 n = depot.read(handle, depot.size(handle), buffer.data());
            depot.close(handle);
            if (n != kAssetSize)
                state.SkipWithError("short read");
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kAssetCount * kAssetSize);
}

void BM_FileSystemDepot(benchmark::State& state)
{
    quern::assets::FileSystemDepot depot((g_content.root / "files").c_str());
    readEveryAsset(state, depot);
}
BENCHMARK(BM_FileSystemDepot)->Unit(benchmark::kMillisecond);

void BM_BlobDepot(benchmark::State& state)
{
    quern::assets::BlobDepot depot;
    depot.openIndex((g_content.root / "blob").c_str());
    readEveryAsset(state, depot);
}
BENCHMARK(BM_BlobDepot)->Unit(benchmark::kMillisecond);

// The peer: the same bytes, one file, one read() per asset.
void BM_PlainRead(benchmark::State& state)
{
    const std::string path = (g_content.root / "blob" / "misc.blob").string();
    std::vector<char> buffer(kAssetSize);
    for (auto _ : state) {
        const int file = ::open(path.c_str(), O_RDONLY);
        for (int i = 0; i < kAssetCount; ++i)
            if (::read(file, buffer.data(), kAssetSize) != static_cast<ssize_t>(kAssetSize))
                state.SkipWithError("short read");
        ::close(file);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kAssetCount * kAssetSize);
}
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig{});
    benchmark::Initialize(&argc, argv);
    if (!buildContent())
        return 1;
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_PlainRead")) {
        // Throughput relative to the plain read: 1.0x matches it, 0.5x is half as fast.
        if (t.count("BM_FileSystemDepot"))
            std::printf("File-system depot / plain read throughput: %.2fx\n",
                        t["BM_PlainRead"] / t["BM_FileSystemDepot"]);
        if (t.count("BM_BlobDepot"))
            std::printf("Blob depot / plain read throughput: %.2fx\n", t["BM_PlainRead"] / t["BM_BlobDepot"]);
    }
    std::error_code ignored;
    fs::remove_all(g_content.root, ignored);
    benchmark::Shutdown();
    quern::memory::shutdownDefaultAllocators();
    return 0;
}

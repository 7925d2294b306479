// Packing the glyph rectangles of DejaVu Sans (code points 32-255 at 12, 16,
// 24, 32 and 48 pixels, with the atlas's 2-pixel margin) into 512 x 512: the
// atlas's skyline packer placing them one by one as glyphs arrive, against
// stb_rect_pack packing the same rectangles. Reports the time ratio and the
// ratio of the areas each managed to place.

#include "quern/fontatlas/SkylineAtlas.h"
#include "support/RatioReporter.h"

#include <benchmark/benchmark.h>

// stb_rect_pack first: stb_truetype brings a stand-in packer of its own otherwise.
#define STBRP_STATIC
#define STB_RECT_PACK_IMPLEMENTATION
#include <stb_rect_pack.h>
#define STBTT_STATIC
#define STB_TRUETYPE_IMPLEMENTATION
#include <stb_truetype.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using quern::i32;

constexpr i32 kAtlas = 512;

struct Size {
    i32 w, h;
};

const std::vector<Size>& glyphRectangles()
{
    static const std::vector<Size> rects = [] {
        std::ifstream in("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", std::ios::binary);
        const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
        std::vector<Size> out;
        stbtt_fontinfo info;
        if (bytes.empty() || !stbtt_InitFont(&info, bytes.data(), 0))
            return out;
        for (float pixels : { 12.0f, 16.0f, 24.0f, 32.0f, 48.0f }) {
            const float scale = stbtt_ScaleForPixelHeight(&info, pixels);
            for (int c = 32; c <= 255; ++c) {
                int x0, y0, x1, y1;
                stbtt_GetCodepointBitmapBox(&info, c, scale, scale, &x0, &y0, &x1, &y1);
                out.push_back({ x1 - x0 + 4, y1 - y0 + 4 });
            }
        }
        return out;
    }();
    return rects;
}

long long g_skylineArea = 0;
long long g_stbArea = 0;

void BM_SkylinePacker(benchmark::State& state)
{
    const std::vector<Size>& rects = glyphRectangles();
    for (auto _ : state) {
        quern::fontatlas::SkylineAtlas skyline;
        skyline.init(kAtlas, kAtlas);
        long long area = 0;
        for (const Size& r : rects) {
            i32 x, y;
            if (skyline.addRect(r.w, r.h, x, y))
                area += static_cast<long long>(r.w) * r.h;
        }
        skyline.release();
        g_skylineArea = area;
        benchmark::DoNotOptimize(area);
    }
}
BENCHMARK(BM_SkylinePacker);

void BM_StbRectPack(benchmark::State& state)
{
    const std::vector<Size>& rects = glyphRectangles();
    std::vector<stbrp_rect> packed(rects.size());
    std::vector<stbrp_node> nodes(kAtlas);
    for (auto _ : state) {
        for (size_t i = 0; i < rects.size(); ++i)
            packed[i] = { static_cast<int>(i), rects[i].w, rects[i].h, 0, 0, 0 };
        stbrp_context context;
        stbrp_init_target(&context, kAtlas, kAtlas, nodes.data(), static_cast<int>(nodes.size()));
        stbrp_pack_rects(&context, packed.data(), static_cast<int>(packed.size()));
        long long area = 0;
        for (const stbrp_rect& r : packed)
            if (r.was_packed)
                area += static_cast<long long>(r.w) * r.h;
        g_stbArea = area;
        benchmark::DoNotOptimize(area);
    }
}
BENCHMARK(BM_StbRectPack);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    std::printf("%zu glyph rectangles\n", glyphRectangles().size());
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_SkylinePacker") && t.count("BM_StbRectPack"))
        std::printf("Skyline packer time / stb_rect_pack time: %.2fx\n", t["BM_SkylinePacker"] / t["BM_StbRectPack"]);
    if (g_stbArea > 0)
        std::printf("Placed area: skyline %lld, stb_rect_pack %lld, ratio %.2fx\n", g_skylineArea, g_stbArea,
            static_cast<double>(g_skylineArea) / static_cast<double>(g_stbArea));
    benchmark::Shutdown();
    return 0;
}

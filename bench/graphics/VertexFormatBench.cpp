// Parsing 10,000 vertex-format strings of one to eight attributes: the engine's
// parser against the same parse written the obvious way with standard string
// streams (a stream of tokens, a stream per attribute, a layout pass after
// every attribute). Prints microseconds per string and the ratio.

#include "quern/graphics/VertexFormat.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/strings/PackedName.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using quern::u32;
using quern::u64;
using quern::graphics::VertexAttribute;
using quern::graphics::VertexFormat;

constexpr int kStrings = 10000;

std::vector<std::string> makeFormats()
{
    static const char* const kTypes[] = { "f", "d", "b", "s", "i", "ub", "us", "ui" };
    static const char* const kNames[] = { "weights", "bones", "tangent", "binormal", "Extra", "size" };
    std::mt19937 random(12);
    std::vector<std::string> formats;
    formats.reserve(kStrings);
    for (int i = 0; i < kStrings; ++i) {
        std::string text;
        const int attributes = 1 + static_cast<int>(random() % 8);
        for (int a = 0; a < attributes; ++a) {
            if (a != 0)
                text += random() % 5 == 0 ? "  " : " ";
            switch (random() % 5) {
            case 0:
                text += "position";
                break;
            case 1:
                text += "normal";
                break;
            case 2:
                text += "color";
                break;
            case 3:
                text += "texcoord" + std::to_string(random() % 8) + "(2f)";
                break;
            default:
                text += std::string(kNames[random() % 6]) + "(" + std::to_string(1 + random() % 4)
                    + kTypes[random() % 8] + ")";
                break;
            }
        }
        formats.push_back(text);
    }
    return formats;
}

const std::vector<std::string>& formats()
{
    static const std::vector<std::string> all = makeFormats();
    return all;
}

// The peer: the same grammar through standard streams, valid input only.
VertexAttribute streamAttribute(const std::string& token)
{
    const std::size_t open = token.find('(');
    if (open == std::string::npos) {
        const u64 id = quern::packName(token.c_str());
        return id == VertexAttribute::kPositionID ? VertexAttribute::position()
            : id == VertexAttribute::kNormalID    ? VertexAttribute::normal()
                                                  : VertexAttribute::color();
    }
    const std::size_t close = token.rfind(')');
    std::istringstream inner(token.substr(open + 1, close - open - 1));
    unsigned count = 0;
    std::string word;
    inner >> count >> word;
    VertexAttribute attribute;
    attribute.id = quern::packName(token.substr(0, open).c_str());
    attribute.count = static_cast<quern::u8>(count);
    attribute.semanticIndex = static_cast<quern::u8>(VertexAttribute::indexOfID(attribute.id));
    attribute.type = VertexAttribute::typeFromName(word);
    return attribute;
}

VertexFormat streamFormat(const std::string& text)
{
    VertexFormat format;
    std::istringstream in(text);
    while (!in.eof()) {
        std::string token;
        in >> token;
        format.addAttribute(streamAttribute(token));
    }
    return format;
}

void BM_VertexFormatFromString(benchmark::State& state)
{
    const std::vector<std::string>& all = formats();
    for (auto _ : state)
        for (const std::string& text : all) {
            VertexFormat format = quern::graphics::vertexFormatFromString(text);
            benchmark::DoNotOptimize(format.hash);
        }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * all.size()));
}
BENCHMARK(BM_VertexFormatFromString)->Unit(benchmark::kMillisecond);

void BM_StreamParsePeer(benchmark::State& state)
{
    const std::vector<std::string>& all = formats();
    for (auto _ : state)
        for (const std::string& text : all) {
            VertexFormat format = streamFormat(text);
            benchmark::DoNotOptimize(format.hash);
        }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * all.size()));
}
BENCHMARK(BM_StreamParsePeer)->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration)
                continue;
            // Real time per iteration in seconds, whatever unit the table shows.
            const double perIteration = run.real_accumulated_time / static_cast<double>(run.iterations);
            auto [it, added] = seconds.emplace(run.benchmark_name(), perIteration);
            if (!added && perIteration < it->second)
                it->second = perIteration;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    // Both parsers must agree on every string before their times mean anything.
    for (const std::string& text : formats())
        if (quern::graphics::vertexFormatFromString(text).hash != streamFormat(text).hash) {
            std::printf("Parsers disagree on \"%s\"\n", text.c_str());
            return 1;
        }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_VertexFormatFromString"))
        std::printf("vertexFormatFromString: %.3f us per string\n", t["BM_VertexFormatFromString"] * 1e6 / kStrings);
    if (t.count("BM_StreamParsePeer"))
        std::printf("Stream-based peer: %.3f us per string\n", t["BM_StreamParsePeer"] * 1e6 / kStrings);
    if (t.count("BM_VertexFormatFromString") && t.count("BM_StreamParsePeer"))
        std::printf("vertexFormatFromString time / stream-based peer time: %.2fx\n",
            t["BM_VertexFormatFromString"] / t["BM_StreamParsePeer"]);
    quern::memory::shutdownDefaultAllocators();
    benchmark::Shutdown();
    return 0;
}

// POD-token read throughput:
// - binary: 64 MiB of fixed 32-byte records read through a byte source, as one
//   array and in 4,096-record arrays, against memcpy of the same bytes;
// - text: a 16 MiB document of record arrays and strings, against RapidJSON
//   parsing the same values written as JSON (same run). The ratio compares the
//   time to read the same values, since the two texts differ a little in size.
// Prints the ratios after the table.

#include "quern/io/StringSink.h"
#include "quern/io/StringSource.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/TextPODToken.h"

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>
#include "support/RatioReporter.h"

namespace {

using namespace quern;
using namespace quern::serialize;

struct Record {
    u64 id;
    f32 position[3];
    u32 flags;
    i64 stamp;
};
static_assert(sizeof(Record) == 32);
const PODComponent kRecordComponents[] = {
    {1, PODKind::Unsigned, 64}, {3, PODKind::Float, 32}, {1, PODKind::Unsigned, 32}, {1, PODKind::Signed, 64}};
const PODTypeDescriptor kRecordDescriptor{4, kRecordComponents};

constexpr u64 kBinaryBytes = 64u << 20;
constexpr u64 kBinaryRecords = kBinaryBytes / sizeof(Record);
constexpr u64 kSliceRecords = 4096;

Record randomRecord(std::mt19937_64& random)
{
    std::uniform_real_distribution<f32> coordinate(-1000.0f, 1000.0f);
    return Record{random(), {coordinate(random), coordinate(random), coordinate(random)},
                  static_cast<u32>(random() & 0xFFFF), static_cast<i64>(random() % 2000000) - 1000000};
}

const std::vector<Record>& binaryRecords()
{
    static const std::vector<Record> records = [] {
        std::mt19937_64 random(7);
        std::vector<Record> r(kBinaryRecords);
        for (Record& record : r)
            record = randomRecord(random);
        return r;
    }();
    return records;
}

void BM_BinaryReadWholeArray(benchmark::State& state)
{
    const auto& records = binaryRecords();
    std::vector<Record> out(records.size());
    BinaryPODToken token;
    for (auto _ : state) {
        StringSource source(records.data(), kBinaryBytes);
        token.readPOD(source, out.data(), out.size(), &kRecordDescriptor);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBinaryBytes));
}
BENCHMARK(BM_BinaryReadWholeArray)->Unit(benchmark::kMillisecond);

void BM_BinaryReadSlices(benchmark::State& state)
{
    const auto& records = binaryRecords();
    std::vector<Record> out(records.size());
    BinaryPODToken token;
    for (auto _ : state) {
        StringSource source(records.data(), kBinaryBytes);
        for (u64 first = 0; first < out.size(); first += kSliceRecords)
            token.readPOD(source, out.data() + first, kSliceRecords, &kRecordDescriptor);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBinaryBytes));
}
BENCHMARK(BM_BinaryReadSlices)->Unit(benchmark::kMillisecond);

void BM_BinaryMemcpy(benchmark::State& state)
{
    const auto& records = binaryRecords();
    std::vector<Record> out(records.size());
    for (auto _ : state) {
        std::memcpy(out.data(), records.data(), kBinaryBytes);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBinaryBytes));
}
BENCHMARK(BM_BinaryMemcpy)->Unit(benchmark::kMillisecond);

// The text document: blocks of {u32 count, count records, one string} inside
// one chunk, until about 16 MiB. The JSON twin holds the same values.
constexpr u64 kTextBytes = 16u << 20;
constexpr u32 kBlockRecords = 64;

struct TextDocument {
    std::string text;
    std::string json;
    u64 blocks = 0;
};

const TextDocument& textDocument()
{
    static const TextDocument document = [] {
        TextDocument d;
        std::mt19937_64 random(11);
        TextPODToken token;
        StringSink sink;
        rapidjson::StringBuffer jsonText;
        rapidjson::Writer<rapidjson::StringBuffer> json(jsonText);
        json.StartObject();
        json.Key("blocks");
        json.StartArray();
        const u32 start = token.beginWriteChunk(sink, 0);
        while (sink.text.size() < kTextBytes) {
            Record records[kBlockRecords];
            for (Record& record : records)
                record = randomRecord(random);
            const std::string name = "block name " + std::to_string(d.blocks);
            token.writePOD(sink, &kBlockRecords, 1, &kU32Descriptor, "count");
            token.writePOD(sink, records, kBlockRecords, &kRecordDescriptor, "records");
            token.writeString(sink, name.c_str(), "name");
            json.StartObject();
            json.Key("count");
            json.Uint(kBlockRecords);
            json.Key("records");
            json.StartArray();
            for (const Record& record : records) {
                json.Uint64(record.id);
                for (f32 c : record.position)
                    json.Double(c);
                json.Uint(record.flags);
                json.Int64(record.stamp);
            }
            json.EndArray();
            json.Key("name");
            json.String(name.c_str());
            json.EndObject();
            ++d.blocks;
        }
        token.endWriteChunk(sink, start);
        json.EndArray();
        json.EndObject();
        d.text = std::move(sink.text);
        d.json.assign(jsonText.GetString(), jsonText.GetSize());
        return d;
    }();
    return document;
}

void BM_TextTokenRead(benchmark::State& state)
{
    const TextDocument& document = textDocument();
    TextPODToken token;
    for (auto _ : state) {
        StringSource source(document.text.data(), document.text.size());
        u64 id = 0;
        const u32 start = token.beginReadChunk(source, &id);
        for (u64 block = 0; block < document.blocks; ++block) {
            u32 count = 0;
            Record records[kBlockRecords];
            char name[64];
            token.readPOD(source, &count, 1, &kU32Descriptor);
            token.readPOD(source, records, count, &kRecordDescriptor);
            token.readString(source, name, sizeof name);
            benchmark::DoNotOptimize(records);
        }
        token.endReadChunk(source, start);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * document.text.size()));
}
BENCHMARK(BM_TextTokenRead)->Unit(benchmark::kMillisecond);

void BM_TextRapidJsonParse(benchmark::State& state)
{
    const TextDocument& document = textDocument();
    for (auto _ : state) {
        rapidjson::Document parsed;
        parsed.Parse(document.json.data(), document.json.size());
        if (parsed.HasParseError() || parsed["blocks"].Size() != document.blocks)
            state.SkipWithError("RapidJSON could not parse the document");
        benchmark::DoNotOptimize(parsed);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * document.json.size()));
}
BENCHMARK(BM_TextRapidJsonParse)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    memory::initDefaultAllocators(memory::AllocatorConfig{});
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds; // milliseconds
    const auto gbPerSecond = [](double bytes, double ms) { return bytes / (ms * 1e-3) / 1e9; };
    if (t.count("BM_BinaryReadWholeArray") && t.count("BM_BinaryMemcpy")) {
        std::printf("Binary read, 64 MiB as one array: %.2f GB/s, %.2fx memcpy (%.2f GB/s)\n",
                    gbPerSecond(kBinaryBytes, t["BM_BinaryReadWholeArray"]),
                    t["BM_BinaryMemcpy"] / t["BM_BinaryReadWholeArray"], gbPerSecond(kBinaryBytes, t["BM_BinaryMemcpy"]));
    }
    if (t.count("BM_BinaryReadSlices") && t.count("BM_BinaryMemcpy")) {
        std::printf("Binary read, 64 MiB in 4096-record arrays: %.2f GB/s, %.2fx memcpy\n",
                    gbPerSecond(kBinaryBytes, t["BM_BinaryReadSlices"]),
                    t["BM_BinaryMemcpy"] / t["BM_BinaryReadSlices"]);
    }
    if (t.count("BM_TextTokenRead") && t.count("BM_TextRapidJsonParse")) {
        const TextDocument& d = textDocument();
        std::printf("Text read: %.0f MB/s (%.1f MiB); RapidJSON: %.0f MB/s (%.1f MiB of JSON); same values, "
                    "text token / RapidJSON: %.2fx\n",
                    gbPerSecond(static_cast<double>(d.text.size()), t["BM_TextTokenRead"]) * 1e3,
                    d.text.size() / 1048576.0,
                    gbPerSecond(static_cast<double>(d.json.size()), t["BM_TextRapidJsonParse"]) * 1e3,
                    d.json.size() / 1048576.0, t["BM_TextRapidJsonParse"] / t["BM_TextTokenRead"]);
    }
    benchmark::Shutdown();
    return 0;
}

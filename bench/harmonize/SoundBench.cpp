// The sound system's frame against OpenAL itself, in the same run, on an
// OpenAL Soft loopback device with 64 playing voices:
// - SoundSystem::update (64 instance gains, then the mixer pass: every voice's
//   looping, auxiliary value and gain, and the device's service of its
//   channels), against
// - the same 64 gain writes and the same per-source service (the state query
//   the back end makes) written directly against OpenAL on the same sources.

#include "support/RatioReporter.h"

#include "LevelListWriter.h"
#include "SoundLibraryWriter.h"
#include "harmonize/Scenario.h"
#include "harmonize/Settings.h"
#include "harmonize/systems/SoundMixer.h"
#include "harmonize/systems/SoundSystem.h"
#include "modules/quern/openal/Loopback.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/openal/OpenALOutputChannel.h"
#include "runtime/quern/graphics/MemoryDepot.h"
#include "support/MemorySampleStream.h"

#include <AL/al.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <new>
#include <vector>

using namespace harmonize;
using quern::f32;
using quern::u32;
using quern::u64;

namespace {

constexpr u32 kVoices = 64;

void constructTone(void* memory, void*)
{
    const u64 frames = 44100;
    new (memory) quern::testing::MemorySampleStream(
        quern::testing::pcmFormat(1, 44100, 16), quern::testing::sineBytes16(1, 44100, 440.0, frames, 0.5));
}

// A level world whose sound system plays 64 voices of a looping tone.
struct SoundFrame {
    SoundFrame()
    {
        Settings::Audio.volumePower = 1.6f;
        const u64 tone = depot.add("tone", { 1 });
        bool created = false;
        toneHandle = cache.acquireOrCreate(quern::assets::resourceKey(tone, quern::assets::ResourceType::AudioStream),
            quern::assets::ResourceType::AudioStream, sizeof(quern::testing::MemorySampleStream), 16, created,
            &constructTone);
        std::vector<quern::u8> blob;
        std::string error;
        quern::assetbuild::buildSoundLibraryBlob("sound hum loop\ncomponent tone gain 0.8\n", { { "tone", tone } },
            blob, error);
        const u64 library = depot.add("sounds", quern::assetbuild::wrapSoundLibraryChunk(blob));
        sound = new SoundSystem(nullptr, &audio.device, &depot, &cache);
        scene.addSystem(sound);
        scene.world().attachSystems(nullptr);
        scene.start();
        sound->loadSoundLibrary(library, depot);
        for (u32 i = 0; i < kVoices; ++i)
            sound->playSound(soundNameKey("hum"));
        scene.world().currentTime = 1'000'000;
        sound->fixedTick(nullptr, scene.world());
        sound->update(nullptr, scene.world());
        for (u32 i = 0; i < kVoices; ++i) {
            auto* channel = static_cast<quern::openal::OpenALOutputChannel*>(sound->mixer().voiceChannel(i));
            if (channel)
                sources.push_back(channel->source());
        }
    }
    ~SoundFrame()
    {
        scene.world().clear();
        cache.release(toneHandle);
    }

    quern::openal::testing::LoopbackAudio audio;
    quern::graphics::testing::MemoryDepot depot;
    quern::assets::DefaultResourceCache cache;
    harmonize::testing::Scenario scene;
    SoundSystem* sound = nullptr;
    u32 toneHandle = 0;
    std::vector<ALuint> sources;
};

SoundFrame& frame()
{
    static SoundFrame f;
    return f;
}

void BM_SoundUpdateAndMixerPass(benchmark::State& state)
{
    SoundFrame& f = frame();
    if (f.sources.size() != kVoices)
        state.SkipWithError("not every voice plays");
    for (auto _ : state)
        f.sound->update(nullptr, f.scene.world());
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kVoices));
}
BENCHMARK(BM_SoundUpdateAndMixerPass)->Unit(benchmark::kMicrosecond);

void BM_DirectOpenALGainsAndService(benchmark::State& state)
{
    SoundFrame& f = frame();
    f32 gain = 0.7f;
    for (auto _ : state) {
        for (ALuint source : f.sources)
            alSourcef(source, AL_GAIN, gain);
        for (ALuint source : f.sources) {
            ALint playing = 0;
            alGetSourcei(source, AL_SOURCE_STATE, &playing);
            benchmark::DoNotOptimize(playing);
        }
        gain = gain == 0.7f ? 0.6f : 0.7f;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kVoices));
}
BENCHMARK(BM_DirectOpenALGainsAndService)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    quern::memory::initDefaultAllocators(quern::memory::AllocatorConfig {});
    benchmark::Initialize(&argc, argv);
    quern::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.seconds;
    if (t.count("BM_SoundUpdateAndMixerPass") && t.count("BM_DirectOpenALGainsAndService"))
        std::printf("sound update + mixer pass / direct OpenAL gains and service (64 voices, loopback): %.2fx the time\n",
            t["BM_SoundUpdateAndMixerPass"] / t["BM_DirectOpenALGainsAndService"]);
    benchmark::Shutdown();
    return 0;
}

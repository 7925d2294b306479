#pragma once
// What the sound tests share: short Ogg sounds made by sox and oggenc, held
// in a memory depot with a sound library built by the content tool, a cache
// that loads them, the Audio settings put back after each test, and devices
// on the silent back end or an OpenAL Soft loopback device.

#include "LevelListWriter.h"
#include "SoundLibraryWriter.h"
#include "harmonize/Settings.h"
#include "harmonize/levels/LevelList.h"
#include "harmonize/systems/SoundMixer.h"
#include "harmonize/systems/SoundSystem.h"
#include "modules/quern/openal/Loopback.h"
#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/audio/AudioBackEndRegistry.h"
#include "quern/audio/AudioDevice.h"
#include "quern/oggvorbis/AudioStreamHandler.h"
#include "runtime/quern/graphics/MemoryDepot.h"
#include "support/MediaFiles.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace harmonize::testing {

namespace media = quern::testing::media;
using quern::graphics::testing::MemoryDepot;

inline media::fs::path soundDirectory() { return media::fs::path(QUERN_TEST_BINARY_DIR) / "media"; }

// A mono sine of `seconds` as an Ogg Vorbis file.
inline std::vector<quern::u8> sineSound(const std::string& name, f32 seconds, i32 hertz)
{
    const media::fs::path path = media::oggVorbis(soundDirectory(), name, 44100, 1,
        "synth " + std::to_string(seconds) + " sine " + std::to_string(hertz) + " vol 0.5");
    EXPECT_FALSE(path.empty()) << "sox or oggenc failed for " << name;
    return path.empty() ? std::vector<quern::u8> {} : media::readFile(path);
}

// Sounds and a library in a memory depot, loadable through the cache.
class SoundContent {
public:
    SoundContent()
    {
        registry.create<quern::oggvorbis::AudioStreamHandler>();
        quern::assets::AssetHandlerRegistry::setInstance(&registry);
    }
    ~SoundContent()
    {
        cache.clear();
        quern::assets::AssetHandlerRegistry::setInstance(nullptr);
    }

    u64 addSound(const std::string& name, f32 seconds = 0.5f, i32 hertz = 440)
    {
        const u64 id = depot.add(name, sineSound(name + std::to_string(seconds), seconds, hertz));
        ids[name] = id;
        return id;
    }
    // The content tool's chunk of the library source; its id.
    u64 addLibrary(const std::string& name, const std::string& source)
    {
        std::vector<quern::u8> blob;
        std::string error;
        EXPECT_TRUE(quern::assetbuild::buildSoundLibraryBlob(source, ids, blob, error)) << error;
        const u64 id = depot.add(name, quern::assetbuild::wrapSoundLibraryChunk(blob));
        ids[name] = id;
        return id;
    }
    // A level list from the content tool's source.
    void buildLevels(const std::string& source)
    {
        std::vector<quern::u8> image;
        std::string error;
        ASSERT_TRUE(quern::assetbuild::buildLevelList(source, ids, image, error)) << error;
        ASSERT_TRUE(levels.parse(image.data(), image.size(), &error)) << error;
    }

    quern::assets::AssetHandlerRegistry registry;
    MemoryDepot depot;
    quern::assets::DefaultResourceCache cache;
    std::map<std::string, u64> ids;
    LevelList levels;
};

// Audio settings as each test sets them, put back afterwards.
class AudioSettingsScope {
public:
    AudioSettingsScope()
        : m_saved(Settings::Audio)
    {
        Settings::Audio.enabled = true;
        Settings::Audio.globalVolume = 100.0f;
        Settings::Audio.musicVolume = 100.0f;
        Settings::Audio.effectsVolume = 100.0f;
        Settings::Audio.volumePower = 1.0f;
    }
    ~AudioSettingsScope() { Settings::Audio = m_saved; }

private:
    AudioSettings m_saved;
};

// A device on the silent back end.
struct NullAudio {
    NullAudio()
    {
        quern::audio::AudioDevice::registerNullBackEnd(registry);
        device.open();
    }
    quern::audio::AudioBackEndRegistry registry;
    quern::audio::AudioDevice device { registry };
};

using quern::openal::testing::LoopbackAudio;

// The music and ambience channels belong to the process: every test starts
// them silent.
inline void resetChannels()
{
    SoundSystem::music() = {};
    SoundSystem::ambience() = {};
}

} // namespace harmonize::testing

// The sound system's level start: the level's sound library, its reverb and
// its music and ambience; and the debug statistics.

#include "harmonize/levels/LevelList.h"
#include "harmonize/systems/SoundLibraryChunk.h"
#include "harmonize/systems/SoundMixer.h"
#include "harmonize/systems/SoundSystem.h"
#include "harmonize/Settings.h"
#include "quern/assets/Depot.h"
#include "quern/memory/Allocator.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace harmonize {
namespace {

[[noreturn]] void failLibrary(u64 key, const char* what)
{
    char message[160];
    std::snprintf(message, sizeof message, "Bad sound library %016llx: %s", static_cast<unsigned long long>(key), what);
    QUERN_FATAL(message);
}

// The blob of the library asset, in a block of `allocator`.
void* readLibraryBlob(u64 key, quern::assets::Depot& depot, quern::memory::Allocator& allocator, u64& blobSize)
{
    const u32 entry = depot.open(key);
    quern::u8 header[SoundLibraryChunk::kHeaderSize] = {};
    const u64 got = depot.read(entry, sizeof header, header);
    const SoundLibraryChunk chunk = readSoundLibraryChunk(header, got < sizeof header ? got : depot.size(entry));
    if (chunk.error) {
        depot.close(entry);
        failLibrary(key, chunk.error);
    }
    void* blob = allocator.allocate(chunk.blobSize ? chunk.blobSize : 1, 16);
    if (!blob)
        failLibrary(key, "no memory for the blob");
    const u64 read = depot.read(entry, chunk.blobSize, blob);
    depot.close(entry);
    if (read != chunk.blobSize) {
        allocator.free(blob);
        failLibrary(key, "the asset ends inside the blob");
    }
    blobSize = chunk.blobSize;
    return blob;
}

i32 findGroup(const quern::audio::AudioLibrary& library, u64 key)
{
    for (u64 i = 0; i < library.groupCount(); ++i) {
        if (library.groups()[i].id() == key)
            return static_cast<i32>(i);
    }
    return -1;
}

} // namespace

void SoundSystem::loadSoundLibrary(u64 key, quern::assets::Depot& depot)
{
    if (!Settings::Audio.enabled)
        return;
    static const u64 musicKey = soundNameKey("Music");
    static const u64 atmoKey = soundNameKey("Atmo");
    if (key == m_libraryKey)
        return;
    quern::memory::Allocator& allocator = m_allocator ? *m_allocator : *quern::memory::getDefaultAllocator();
    u64 blobSize = 0;
    void* blob = readLibraryBlob(key, depot, allocator, blobSize);
    freeLibrary();
    m_libraryKey = key;
    m_library.setData(blob, blobSize, &allocator);

    m_pick.randomState = 42;
    const u64 soundCount = m_library.soundCount();
    m_pick.lastPicked = static_cast<u32*>(allocator.allocate((soundCount ? soundCount : 1) * sizeof(u32), 4));
    std::memset(m_pick.lastPicked, 0, (soundCount ? soundCount : 1) * sizeof(u32));
    m_pickAllocator = &allocator;

    m_musicGroup = findGroup(m_library, musicKey);
    m_ambienceGroup = findGroup(m_library, atmoKey);

    m_lastStartTimes = quern::containers::Array(sizeof(u64), 8, m_allocator);
    std::memset(m_lastStartTimes.expand(soundCount), 0, soundCount * sizeof(u64));

    for (u64 i = 0; i < m_library.componentCount(); ++i) {
        if (const u64 asset = m_library.components()[i].audioAssetId(); asset != 0)
            m_mixer->preload(asset);
    }
}

void SoundSystem::adoptChannel(const SoundChannel& channel)
{
    if (channel.record == 0)
        return;
    SoundInstance instance {};
    instance.record = channel.record;
    instance.soundId = channel.soundId;
    instance.gain = channel.savedGain;
    if (const i64 sound = findSound(channel.soundId); sound >= 0)
        instance.component = m_library.pickComponent(static_cast<u64>(sound), m_pick);
    m_instances.append(instance);
}

void SoundSystem::applyLevelAudio(i32 levelIndex, const LevelList& levels)
{
    const quern::u8* record = levels.findLevelOfIndex(levelIndex);
    const bool reverb = record && LevelList::recordReverbEnabled(record);
    if (m_mixer->reverbOn() != reverb)
        m_mixer->setReverbEnabled(reverb);
    if (reverb)
        m_mixer->setReverbParameters(LevelList::recordReverbParameters(record));

    std::string musicName = record ? LevelList::recordMusicName(record) : std::string();
    std::string ambienceName = record ? LevelList::recordAmbienceName(record) : std::string();
    if (const quern::u8* extra = levels.findExtraEntry(levelIndex)) {
        musicName = LevelList::extraMusicName(extra);
        ambienceName = LevelList::extraAmbienceName(extra);
    }

    adoptChannel(ambience());
    adoptChannel(music());

    const u64 musicId = musicName.empty() ? m_defaultMusic : soundNameKey(musicName.c_str());
    if (musicId != 0)
        SoundChannel::play(music(), *this, musicId);
    else
        stopMusic();
    if (!ambienceName.empty())
        SoundChannel::play(ambience(), *this, soundNameKey(ambienceName.c_str()));
    else
        stopAtmo();
}

void SoundSystem::collectClipStatistics(quern::containers::Array& out) const
{
    const u64 first = out.count();
    for (u64 i = 0; i < m_instances.count(); ++i) {
        const SoundInstance& instance = m_instances.at<SoundInstance>(i);
        if (!instance.component)
            continue;
        SoundClipCount* entry = out.dataAs<SoundClipCount>() + first;
        SoundClipCount* end = out.dataAs<SoundClipCount>() + out.count();
        while (entry != end && entry->soundId != instance.soundId)
            ++entry;
        if (entry != end)
            ++entry->count;
        else
            out.append(SoundClipCount { instance.soundId, 1 });
    }
    std::stable_sort(out.dataAs<SoundClipCount>() + first, out.dataAs<SoundClipCount>() + out.count(),
        [](const SoundClipCount& a, const SoundClipCount& b) { return a.count > b.count; });
}

} // namespace harmonize

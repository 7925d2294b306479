#pragma once
// Sounds made by sox and oggenc for the Ogg Vorbis tests, oggdec's samples to
// compare with, and edits of an Ogg file page by page (the faults the tests need).

#include "support/ForwardOnlyBuffer.h"
#include "support/MediaFiles.h"

#include "quern/LittleEndian.h"
#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/ResourceCache.h"
#include "quern/audio/SampleStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace quern::oggvorbis::testing {

namespace media = quern::testing::media;
using media::Bytes;

inline media::fs::path soundDirectory() { return media::fs::path(QUERN_TEST_BINARY_DIR) / "media"; }

// The file of an oggenc sound, made on first use.
inline Bytes sound(
    const std::string& name, u32 rate, u32 channels, const std::string& effects, const std::string& oggencOptions = "")
{
    const media::fs::path path = media::oggVorbis(soundDirectory(), name, rate, channels, effects, oggencOptions);
    EXPECT_FALSE(path.empty()) << "sox or oggenc failed for " << name;
    return path.empty() ? Bytes {} : media::readFile(path);
}

// oggdec's samples of `file` (written next to the other media as `name`, a
// copy per process: tests running side by side decode files of one name).
inline Bytes oggdecOf(const Bytes& file, const std::string& name)
{
    const media::fs::path path = soundDirectory() / (name + "-" + std::to_string(::getpid()) + ".ogg");
    media::fs::create_directories(path.parent_path());
    media::writeFile(path, file);
    Bytes samples = media::oggdecSamples(path);
    std::error_code ignored;
    media::fs::remove(path, ignored);
    return samples;
}

// A heap stream buffer over the bytes, for streams that take one over.
inline std::streambuf* streamOf(const Bytes& file)
{
    return new std::stringbuf(std::string(file.begin(), file.end()), std::ios::in);
}

using quern::testing::ForwardOnlyBuffer;

// Everything the stream gives from where it stands, read `chunk` bytes at a
// time until a read comes back short.
inline Bytes readAll(audio::SampleStream& stream, u64 chunk = 4096)
{
    Bytes all;
    for (;;) {
        const u64 had = all.size();
        all.resize(had + chunk);
        const u64 got = stream.readImpl(stream.source(), chunk, all.data() + had);
        all.resize(had + got);
        if (got < chunk)
            return all;
    }
}

// Loads the sound as an AudioStream through the registered handler and
// returns the cached stream (the cache keeps it); null when nothing was cached.
inline audio::SampleStream* loadSound(u64 id, assets::Depot& depot, assets::ResourceCache& cache)
{
    const u64 key = assets::loadAsset(id, assets::ResourceType::AudioStream, depot, cache);
    EXPECT_EQ(key, assets::resourceKey(id, assets::ResourceType::AudioStream));
    const u32 handle = cache.acquire(key);
    if (handle == 0)
        return nullptr;
    u64 typeId = 0;
    auto* stream = static_cast<audio::SampleStream*>(cache.entry(handle, typeId));
    cache.release(handle);
    EXPECT_EQ(typeId, assets::ResourceType::AudioStream);
    return stream;
}

struct Page {
    u64 offset = 0;
    u64 size = 0;
};

// The pages of a well-formed Ogg file: each a 27-byte header, its segment
// table and the segments.
inline std::vector<Page> pagesOf(const Bytes& file)
{
    std::vector<Page> pages;
    for (u64 at = 0; at + 27 <= file.size() && std::equal(file.begin() + at, file.begin() + at + 4, "OggS");) {
        const u8 segments = file[at + 26];
        u64 size = 27 + segments;
        for (u8 i = 0; i < segments; ++i)
            size += file[at + 27 + i];
        pages.push_back({ at, size });
        at += size;
    }
    return pages;
}

inline Bytes withoutPage(const Bytes& file, const Page& page)
{
    Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(page.offset));
    cut.insert(cut.end(), file.begin() + static_cast<std::ptrdiff_t>(page.offset + page.size), file.end());
    return cut;
}

// Zero bytes after the last page (vorbisfile looks past them) up to `size`.
inline Bytes paddedTo(Bytes file, u64 size)
{
    EXPECT_LE(file.size(), size);
    file.resize(size, 0);
    return file;
}

} // namespace quern::oggvorbis::testing

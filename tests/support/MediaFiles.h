#pragma once
// Sounds and videos for tests and benchmarks, made when they run by Debian's
// own encoders (sox, oggenc, vpxenc) and decoded for reference by vpxdec:
// nothing binary is kept in the source tree. Files are made once per build
// folder; test processes running side by side each write a temporary and the
// first rename wins.

#include "quern/Types.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace quern::testing::media {

namespace fs = std::filesystem;
using Bytes = std::vector<u8>;

inline Bytes readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// Runs a shell command with its standard output silenced; true on status 0.
inline bool run(const std::string& command)
{
    const std::string silenced = command + " >/dev/null";
    return std::system(silenced.c_str()) == 0;
}

// `name` with the words that make it, so a file made another way is made anew.
inline std::string recipeName(const std::string& name, const std::string& recipe)
{
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(std::hash<std::string> {}(recipe)));
    return std::string(hash) + "-" + name;
}

// `path`, made by `make` (which writes the path it is given) unless it exists.
// Empty when making it failed.
inline fs::path makeOnce(const fs::path& path, const std::function<bool(const fs::path&)>& make)
{
    std::error_code ignored;
    if (fs::exists(path))
        return path;
    fs::create_directories(path.parent_path(), ignored);
    const fs::path temporary = path.string() + ".tmp" + std::to_string(::getpid());
    if (!make(temporary)) {
        fs::remove(temporary, ignored);
        return {};
    }
    fs::rename(temporary, path, ignored);
    return fs::exists(path) ? path : fs::path {};
}

// Chroma planes of I420 have the rounded-up half size.
inline u32 chromaSize(u32 size) { return (size + 1) / 2; }
inline u64 i420FrameBytes(u32 width, u32 height)
{
    return u64 { width } * height + 2 * u64 { chromaSize(width) } * chromaSize(height);
}

// Raw I420 frames of a still, noisy background that an 8 x 8 square crosses:
// inter frames carry real changes, and the encoder finds a background worth
// keeping in an alternate reference frame when it is allowed one. With `pan`
// the background moves that many pixels a frame, as a camera pan would.
inline Bytes i420Frames(u32 width, u32 height, u32 frames, u32 pan = 0)
{
    Bytes out;
    out.reserve(i420FrameBytes(width, height) * frames);
    const u32 cw = chromaSize(width), ch = chromaSize(height);
    const auto noise = [](u32 x, u32 y) { return (x * 2654435761u ^ y * 40503u) >> 7; };
    for (u32 f = 0; f < frames; ++f) {
        const u32 squareX = (f * 3) % (width > 8 ? width - 8 : 1), squareY = (f * 2) % (height > 8 ? height - 8 : 1);
        const auto inSquare
            = [&](u32 x, u32 y) { return x >= squareX && x < squareX + 8 && y >= squareY && y < squareY + 8; };
        for (u32 y = 0; y < height; ++y)
            for (u32 x = 0; x < width; ++x)
                out.push_back(inSquare(x, y) ? 235 : static_cast<u8>(16 + noise(x + f * pan, y) % 200));
        for (u32 y = 0; y < ch; ++y)
            for (u32 x = 0; x < cw; ++x)
                out.push_back(static_cast<u8>(inSquare(x * 2, y * 2) ? 200 : 64 + (x * 3) % 128));
        for (u32 y = 0; y < ch; ++y)
            for (u32 x = 0; x < cw; ++x)
                out.push_back(static_cast<u8>(inSquare(x * 2, y * 2) ? 40 : 64 + (y * 5) % 128));
    }
    return out;
}

// A VP8 IVF of the moving scene, `extra` being further vpxenc options.
inline fs::path vp8Video(const fs::path& directory, const std::string& name, u32 width, u32 height, u32 frames,
    const std::string& extra = "", u32 pan = 0)
{
    const std::string recipe = std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(frames) + "/"
        + std::to_string(pan) + "/" + extra;
    return makeOnce(directory / recipeName(name, recipe), [&](const fs::path& out) {
        const fs::path raw = out.string() + ".yuv";
        writeFile(raw, i420Frames(width, height, frames, pan));
        const bool made = run("vpxenc --codec=vp8 --ivf --i420 -q --threads=1 --fps=30/1 -w " + std::to_string(width)
            + " -h " + std::to_string(height) + " --limit=" + std::to_string(frames) + " " + extra + " -o "
            + quoted(out) + " " + quoted(raw) + " 2>/dev/null");
        std::error_code ignored;
        fs::remove(raw, ignored);
        return made;
    });
}

// What a decoder command (`command`, ending where the output file goes)
// writes when it reads `input`.
inline Bytes decodedBy(const std::string& command, const fs::path& input)
{
    const fs::path out = input.string() + ".decoded" + std::to_string(::getpid());
    if (!run(command + " " + quoted(out) + " " + quoted(input) + " 2>/dev/null"))
        return {};
    Bytes bytes = readFile(out);
    std::error_code ignored;
    fs::remove(out, ignored);
    return bytes;
}

// vpxdec's I420 output of an IVF (every shown frame, one after another).
inline Bytes vpxdecFrames(const fs::path& ivf) { return decodedBy("vpxdec --i420 -o", ivf); }

// An Ogg Vorbis file of `channels` at `rate` Hz: sox makes the sound with
// `effects` (e.g. "synth 3 sine 440"), oggenc encodes it with `oggencOptions`.
inline fs::path oggVorbis(const fs::path& directory, const std::string& name, u32 rate, u32 channels,
    const std::string& effects, const std::string& oggencOptions = "")
{
    const std::string recipe
        = std::to_string(rate) + "/" + std::to_string(channels) + "/" + effects + "/" + oggencOptions;
    return makeOnce(directory / recipeName(name, recipe), [&](const fs::path& out) {
        const fs::path wave = out.string() + ".wav";
        bool made = run("sox -q -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -b 16 "
            + quoted(wave) + " " + effects + " 2>/dev/null");
        made = made && run("oggenc -Q " + oggencOptions + " -o " + quoted(out) + " " + quoted(wave) + " 2>/dev/null");
        std::error_code ignored;
        fs::remove(wave, ignored);
        return made;
    });
}

// oggdec's raw PCM of an Ogg Vorbis file: 16-bit signed little-endian
// samples of every link, one after another.
inline Bytes oggdecSamples(const fs::path& ogg) { return decodedBy("oggdec -Q -R -o", ogg); }

} // namespace quern::testing::media

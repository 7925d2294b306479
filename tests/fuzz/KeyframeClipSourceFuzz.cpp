// The content tool's keyframe clip reader on arbitrary text: a source it
// accepts must write a clip that the engine reads and can sample.

#include "FuzzSupport.h"

#include "KeyframeClipWriter.h"

#include "quern/animate/KeyframeAnimation.h"
#include "quern/io/StringSource.h"
#include "quern/serialize/BinaryPODToken.h"

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    using namespace quern;
    fuzz::initialize();
    assetbuild::KeyframeClipSource source;
    source.name = "fuzz";
    std::string error;
    if (!assetbuild::parseKeyframeClipSource(std::vector<u8>(data, data + size), source, error))
        return 0;
    std::ostringstream out;
    serialize::BinaryPODToken writer;
    assetbuild::writeKeyframeClip(out, writer, source);
    const std::string bytes = out.str();
    // An accepted clip that the engine refuses is a fault of the tool.
    if (!fuzz::runGuarded([&] {
            animate::KeyframeAnimation clip;
            StringSource input(bytes.data(), bytes.size());
            serialize::BinaryPODToken reader;
            animate::readKeyframeAnimation(input, reader, clip);
            std::vector<animate::KeyframeCursor> cursors(clip.tracks.count(), animate::KeyframeCursor::empty());
            for (u32 track = 0; track < clip.tracks.count(); ++track) {
                f32 value = 0.0f;
                clip.blendFloatTracks(clip.duration * 0.5f, track, &value, 1, cursors.data(), clip.wrapMode, 1.0f, 0.0f);
            }
            (void)clip.findEvents(0.0f, clip.duration, clip.wrapMode);
        }))
        std::abort();
    return 0;
}

#pragma once
// Keyframe clips for the content tool. A "keyframeanim" asset comes from a text
// file of keyword lines ('#' starts a comment):
//
//   name <clip name>                          default: the asset's file name
//   duration <seconds>                        above 0
//   wrap once|loop|pingpong                   default once
//   track <path> <property> [type <n>]        '-' as the path: the animated entity
//   key <time> <value>... [linear|constant|smooth]
//   event <time> <name> [<payload>]
//
// The keys below a track line are that track's, in ascending time; each holds
// one value, or three for "m_LocalPosition" and "m_LocalScale" and four
// (x, y, z, w) for "m_LocalRotation", which become consecutive component
// tracks sampled together. "m_Enabled" names the component type it switches
// with `type`. An event's payload is a number, or a name whose id (MurmurHash64A
// with the string interner's seed) is the payload: "event 0.5 PlaySound Step".

#include "AssetManifest.h"

#include "quern/animate/KeyframeAnimation.h"

#include <ostream>
#include <string>
#include <vector>

namespace quern::serialize {
class PODToken;
}

namespace quern::assetbuild {

struct KeyframeClipSource {
    std::string name;
    f32 duration = 0.0f;
    u32 wrapMode = 0;
    std::vector<animate::KeyframeKey> keys; // by track, then by time
    std::vector<animate::KeyframeTrack> tracks;
    std::vector<animate::KeyframeTrackInfo> trackInfo; // one per track
    std::vector<animate::KeyframeEvent> events; // by time
    std::vector<std::string> strings; // paths, properties and event names
};

// False with a message naming the line for a statement, value or keyword the
// clip cannot hold: no duration, a time outside the clip or out of order, a
// track without keys, a key with the wrong number of values, a single
// rotation component, "m_Enabled" without its type.
bool parseKeyframeClipSource(const std::vector<u8>& text, KeyframeClipSource& clip, std::string& error);

// The stored form the engine's clip reader takes.
void writeKeyframeClip(std::ostream& out, serialize::PODToken& token, const KeyframeClipSource& clip);

// Turns the source of a "keyframeanim" asset into the clip; other types are
// left as they are. The clip's name defaults to the asset's file name.
bool convertKeyframeClipContent(const ManifestAsset& asset, std::vector<u8>& bytes, std::string& error);

} // namespace quern::assetbuild

// The replay tool's script reader on arbitrary text: a script it accepts must
// write a replay that the engine reads back and plays into arrays the size of
// the game's Game context.

#include "FuzzSupport.h"

#include "ReplayScript.h"

#include "quern/containers/Array.h"
#include "quern/input/InputReplay.h"
#include "quern/io/StringSink.h"
#include "quern/io/StringSource.h"
#include "quern/serialize/BinaryPODToken.h"

#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    using namespace quern;
    fuzz::initialize();
    input::InputReplay replay;
    std::string error;
    if (!replaybuild::readReplayScript(std::string(reinterpret_cast<const char*>(data), size), replay, error))
        return 0;
    StringSink sink;
    serialize::BinaryPODToken writer;
    replay.write(sink, writer);
    // An accepted script whose replay the engine refuses is a fault of the tool.
    if (!fuzz::runGuarded([&] {
            input::InputReplay read;
            StringSource source(sink.text.data(), sink.text.size());
            serialize::BinaryPODToken reader;
            read.read(source, reader);
            containers::Array actions(sizeof(i32), alignof(i32));
            containers::Array held(sizeof(i8), alignof(i8));
            containers::Array axes(sizeof(i32), alignof(i32));
            std::memset(actions.expand(1), 0, sizeof(i32));
            std::memset(held.expand(5), 0, 5);
            std::memset(axes.expand(3), 0, 3 * sizeof(i32));
            const input::InputArrays arrays { &actions, &held, &axes };
            input::InputReplayPlayer player;
            // Jump from record to record: the frames between them apply nothing.
            for (u64 i = 0; i < read.frameCount(); ++i) {
                player.frameCounter = read.frameAt(i).frame;
                player.playFrame(read, arrays);
            }
        }))
        std::abort();
    return 0;
}

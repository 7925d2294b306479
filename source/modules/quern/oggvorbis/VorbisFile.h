#pragma once
// What the Ogg Vorbis stream and the content tool share of vorbisfile: the
// callbacks that read a standard stream buffer, the texts of its result codes,
// and the check of a whole file.

#include "quern/Types.h"

#include <vorbis/vorbisfile.h>

#include <string>

namespace quern::oggvorbis {

// Reading, seeking (from the start, the current position or the end, reading
// side only) and telling on the std::streambuf given as the data source. No
// close: the stream buffer belongs to whoever made it.
const ov_callbacks& streamBufferCallbacks();

// vorbisfile's result codes in words; "Unknown Ogg error." for others.
const char* vorbisErrorText(i32 code);

// What the content tool asks of a sound: false, with the reason, unless the
// bytes are an Ogg Vorbis stream that opens, every link has the format of the
// first (the engine plays a stream in one format), and the whole stream decodes.
bool checkOggVorbisFile(const u8* data, u64 size, std::string& reason);

} // namespace quern::oggvorbis

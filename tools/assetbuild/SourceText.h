#pragma once
// The keyword-line text sources of the content tool: lines without comments,
// split into words, and the numbers in them.

#include "quern/Types.h"

#include <filesystem>
#include <string>
#include <vector>

namespace quern::assetbuild {

struct SourceLine {
    u32 number;
    std::vector<std::string> words;
    std::string text; // the line without its comment
};

// The non-empty lines with '#' comments removed, split at blanks.
std::vector<SourceLine> splitLines(const std::vector<u8>& bytes);

// A decimal number of at most 10 digits no greater than the limit.
bool parseNumber(const std::string& word, u64 limit, u32& value);
// A finite decimal float, the whole word.
bool parseFloat(const std::string& word, f32& value);

// A file a source names: absolute as it is, otherwise below the source folder.
std::filesystem::path sourcePath(const std::string& sourceDirectory, const std::string& file);

} // namespace quern::assetbuild

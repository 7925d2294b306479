#pragma once
// The localised string table "assets.l10n": texts keyed as the engine keys names.

#include <string>

namespace quern::assetbuild {

inline constexpr const char* kStringTableFileName = "assets.l10n";

// Reads `key = text` lines (blank lines and lines starting with '#' skipped; the
// key and the text lose their surrounding blanks) from `sourcePath`, or nothing
// when it is empty, and writes the table to `outPath`. False with a message on
// an unreadable source, a line without '=', an empty key, a repeated key or an
// unwritable output.
bool writeStringTableFile(const std::string& sourcePath, const std::string& outPath, std::string& error);

} // namespace quern::assetbuild

#pragma once
// The boolean words every boolean setting accepts ("yes", "off", "1", ...).

namespace quern::settings {

// Skips blanks (space and the bytes 9 to 13) around the text and matches the rest
// without regard to case. On a match stores the word's value and returns true;
// otherwise returns false and leaves `out` unchanged. Null and empty text never match.
bool parseBool(const char* text, bool* out);

} // namespace quern::settings

#pragma once
// The game's configuration: typed process-wide values read directly as
// harmonize::Settings::Section.key, filled from the command line and
// "settings.ini" at start-up and written back by the menus.

#include "harmonize/SettingsTable.h"

#include <string>

namespace quern::io {
class HomeFileSystem;
}
namespace quern::memory {
class Allocator;
}

namespace harmonize {

class SettingsVisitor {
public:
    virtual ~SettingsVisitor() = default;
    virtual void visitCategory(i32 index, const char* name) = 0;
    virtual void visitString(const char* key, const char* text) = 0;
    virtual void visitBool(const char* key, bool* value) = 0;
    virtual void visitFloat(const char* key, f32* value) = 0;
    virtual void visitInt(const char* key, i32* value) = 0;
};

namespace Settings {

inline constexpr const char* kFileName = "settings.ini";

// 0 applied, 1 unknown section or key, 2 not a boolean word.
i32 setFromIni(const char* section, const char* key, const char* value);
// 0 applied, 1 not a boolean word, 2 unknown option (a string or number option
// without '=' counts as unknown). "help" prints the overview and exits with 0.
i32 setFromCommandLine(const char* key, const char* value);

bool load(quern::io::HomeFileSystem& fileSystem);
bool save(quern::io::HomeFileSystem& fileSystem);
// The text save writes.
std::string buildIniText();

// One write of the overview to standard output.
void printHelp();

// Where copies of string values go; set before the first value is applied.
void setStringAllocator(quern::memory::Allocator* allocator);
// A copy of `text` in the settings' string store, for texts written into a
// record by code (the same text gives the same copy).
const char* internText(const char* text);
// Releases every string copy. Keys that point at copies go back to their
// defaults, so nothing reads freed text afterwards.
void free();

// The debug settings panel's visitor, handed every section by visitSections.
void setSectionVisitor(SettingsVisitor* visitor);
void visitSections();
void visitSection(i32 category, SettingsVisitor& visitor);

// Every value back to its default and no value remembered from the file or the
// command line (the process starts this way; tests start each case this way).
void resetToDefaults();

} // namespace Settings

} // namespace harmonize

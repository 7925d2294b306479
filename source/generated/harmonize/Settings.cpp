#include "harmonize/Settings.h"

#include "quern/io/HomeFileSystem.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/settings/BoolWords.h"
#include "quern/settings/IniParser.h"
#include "quern/strings/Hashes.h"
#include "quern/strings/String.h"
#include "quern/strings/StringInterner.h"

#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace harmonize::Settings {
namespace {

quern::strings::StringInterner g_strings;
SettingsVisitor* g_sectionVisitor = nullptr;

template <class T> T& field(void* record, const SettingKey& key)
{
    return *reinterpret_cast<T*>(static_cast<unsigned char*>(record) + key.offset);
}

template <class T> const T& field(const void* record, const SettingKey& key)
{
    return *reinterpret_cast<const T*>(static_cast<const unsigned char*>(record) + key.offset);
}

bool isBlank(char c) { return c == ' ' || (c >= 9 && c <= 13); }

// The leading decimal number: blanks and a sign allowed, the rest ignored, no
// digits give 0, values past the 32-bit range stop at its limit.
i32 parseLeadingInt(const char* text)
{
    while (isBlank(*text))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    i64 value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > static_cast<i64>(INT_MAX) + 1)
            value = static_cast<i64>(INT_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    return static_cast<i32>(value);
}

// The leading floating-point number, read the same whatever the process
// locale says about decimal points. No number gives 0.
f32 parseLeadingFloat(const char* text)
{
    while (isBlank(*text))
        ++text;
    if (*text == '+' && text[1] != '-')
        ++text;
    f32 value = 0.0f;
    const auto [end, error] = std::from_chars(text, text + std::strlen(text), value);
    if (error == std::errc::result_out_of_range) {
        // from_chars leaves the value alone there; follow strtof: infinity or zero.
        const char* digits = text + (*text == '-' ? 1 : 0);
        bool hugeExponent = false;
        for (const char* p = digits; p < end; ++p)
            if ((*p == 'e' || *p == 'E') && p[1] != '-')
                hugeExponent = true;
        value = hugeExponent ? HUGE_VALF : 0.0f;
        if (*text == '-')
            value = -value;
    } else if (error != std::errc()) {
        value = 0.0f;
    }
    return value;
}

void storeString(const char*& slot, const char* text)
{
    if (std::strcmp(slot, text) == 0)
        return;
    const u64 length = std::strlen(text);
    slot = g_strings.intern(text, length, quern::strings::murmurHash64A(text, length, quern::strings::kInternerSeed));
}

// Converts and stores one value. 0 applied, -1 not a boolean word.
i32 apply(void* record, const SettingKey& key, const char* value)
{
    switch (key.kind) {
    case SettingKind::Bool: {
        if (!value) {
            field<bool>(record, key) = true;
            return 0;
        }
        bool parsed = false;
        if (!quern::settings::parseBool(value, &parsed))
            return -1;
        field<bool>(record, key) = parsed;
        return 0;
    }
    case SettingKind::Int:
        field<i32>(record, key) = parseLeadingInt(value);
        return 0;
    case SettingKind::Float:
        field<f32>(record, key) = parseLeadingFloat(value);
        return 0;
    case SettingKind::String:
        storeString(field<const char*>(record, key), value);
        return 0;
    }
    QUERN_FATAL_INVALID_ENUM("SettingKind");
}

void copyValue(void* to, const void* from, const SettingKey& key)
{
    const u32 size = key.kind == SettingKind::Bool ? 1 : key.kind == SettingKind::String ? sizeof(void*) : 4;
    std::memcpy(
        static_cast<unsigned char*>(to) + key.offset, static_cast<const unsigned char*>(from) + key.offset, size);
}

bool sameValue(const void* a, const void* b, const SettingKey& key)
{
    switch (key.kind) {
    case SettingKind::Bool:
        return field<bool>(a, key) == field<bool>(b, key);
    case SettingKind::Int:
        return field<i32>(a, key) == field<i32>(b, key);
    case SettingKind::Float:
        // Only a value below or above the other counts as a change, so a NaN
        // never reaches the file.
        return !(field<f32>(a, key) < field<f32>(b, key) || field<f32>(a, key) > field<f32>(b, key));
    case SettingKind::String:
        return std::strcmp(field<const char*>(a, key), field<const char*>(b, key)) == 0;
    }
    QUERN_FATAL_INVALID_ENUM("SettingKind");
}

const SettingKey* findKey(const SettingsSection& section, const char* name)
{
    for (u32 i = 0; i < section.keyCount; ++i)
        if (quern::strings::compareNoCase(section.keys[i].key, name) == 0)
            return &section.keys[i];
    return nullptr;
}

void appendValue(std::string& out, const void* record, const SettingKey& key)
{
    char buffer[64];
    switch (key.kind) {
    case SettingKind::Bool:
        out += field<bool>(record, key) ? '1' : '0';
        return;
    case SettingKind::Int: {
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, field<i32>(record, key));
        out.append(buffer, result.ptr);
        return;
    }
    case SettingKind::Float: {
        // General notation with six significant digits, as %g writes in the "C" locale.
        const auto result
            = std::to_chars(buffer, buffer + sizeof buffer, field<f32>(record, key), std::chars_format::general, 6);
        out.append(buffer, result.ptr);
        return;
    }
    case SettingKind::String:
        out += field<const char*>(record, key);
        return;
    }
    QUERN_FATAL_INVALID_ENUM("SettingKind");
}

i32 applyIniEntry(void*, const char* section, const char* key, const char* value)
{
    return setFromIni(section, key, value);
}

} // namespace

i32 setFromIni(const char* sectionName, const char* keyName, const char* value)
{
    for (const SettingsSection& section : kSettingsSections) {
        if (quern::strings::compareNoCase(section.name, sectionName) != 0)
            continue;
        const SettingKey* key = findKey(section, keyName);
        if (!key)
            return 1;
        if (!value && key->kind != SettingKind::Bool)
            return 1;
        if (apply(section.values, *key, value) != 0)
            return 2;
        copyValue(section.fileValues, section.values, *key);
        return 0;
    }
    return 1;
}

i32 setFromCommandLine(const char* option, const char* value)
{
    if (quern::strings::compareNoCase(option, "help") == 0) {
        printHelp();
        std::exit(0);
    }
    for (const SettingsSection& section : kSettingsSections) {
        for (u32 i = 0; i < section.keyCount; ++i) {
            const SettingKey& key = section.keys[i];
            if (quern::strings::compareNoCase(key.option, option) != 0)
                continue;
            // Only a boolean option means something without a value.
            if (!value && key.kind != SettingKind::Bool)
                return 2;
            if (apply(section.values, key, value) != 0)
                return 1;
            copyValue(section.commandLineValues, section.values, key);
            section.setOnCommandLine[i] = true;
            return 0;
        }
    }
    return 2;
}

bool load(quern::io::HomeFileSystem& fileSystem)
{
    const quern::io::UserStorageResult size = fileSystem.fileSize(kFileName);
    if (size.code != quern::io::UserStorageError::NoError || size.value == 0)
        return true;

    quern::memory::Allocator* allocator = quern::memory::getDefaultAllocator();
    char* buffer = static_cast<char*>(allocator->allocate(size.value + 1, 4));
    if (!buffer)
        QUERN_OUT_OF_MEMORY();
    bool loaded = false;
    const quern::io::UserStorageResult read = fileSystem.read(kFileName, buffer, size.value);
    if (read.code != quern::io::UserStorageError::NoError) {
        quern::debug::softAssert(read.message, "Settings::load", __FILE__, __LINE__);
    } else {
        loaded = quern::settings::parseIniText(buffer, buffer + read.value, applyIniEntry) == 0;
    }
    allocator->free(buffer);
    return loaded;
}

std::string buildIniText()
{
    std::string out;
    out.reserve(4096);
    for (const SettingsSection& section : kSettingsSections) {
        out += "\n[";
        out += section.name;
        out += "]\n";
        for (u32 i = 0; i < section.keyCount; ++i) {
            const SettingKey& key = section.keys[i];
            // A value the command line gave and nothing changed since is a one-off:
            // the file keeps what it said before. Once something changed it, the
            // key is the user's again, even if it later returns to that value.
            if (section.setOnCommandLine[i] && !sameValue(section.values, section.commandLineValues, key))
                section.setOnCommandLine[i] = false;
            const bool oneOff = section.setOnCommandLine[i];
            const void* record = oneOff ? section.fileValues : section.values;
            if (sameValue(record, section.defaults, key))
                continue;
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(key.key[0])));
            out += key.key + 1;
            out += " = ";
            appendValue(out, record, key);
            out += '\n';
        }
    }
    return out;
}

bool save(quern::io::HomeFileSystem& fileSystem)
{
    const std::string text = buildIniText();
    const quern::io::UserStorageResult written = fileSystem.write(kFileName, text.data(), text.size());
    if (written.code != quern::io::UserStorageError::NoError) {
        quern::debug::softAssert(written.message, "Settings::save", __FILE__, __LINE__);
        return false;
    }
    return true;
}

void printHelp()
{
    const char* text = kSettingsHelpText;
    u64 left = kSettingsHelpTextLength;
    while (left > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, text, left);
        if (written <= 0)
            return;
        text += written;
        left -= static_cast<u64>(written);
    }
}

const char* internText(const char* text)
{
    const u64 length = std::strlen(text);
    return g_strings.intern(text, length, quern::strings::murmurHash64A(text, length, quern::strings::kInternerSeed));
}

void setStringAllocator(quern::memory::Allocator* allocator) { g_strings.setAllocator(allocator); }

void free()
{
    for (const SettingsSection& section : kSettingsSections) {
        for (u32 i = 0; i < section.keyCount; ++i) {
            const SettingKey& key = section.keys[i];
            if (key.kind != SettingKind::String)
                continue;
            copyValue(section.values, section.defaults, key);
            copyValue(section.fileValues, section.defaults, key);
            copyValue(section.commandLineValues, section.defaults, key);
        }
    }
    g_strings.clear();
}

void setSectionVisitor(SettingsVisitor* visitor) { g_sectionVisitor = visitor; }

void visitSections()
{
    if (!g_sectionVisitor)
        return;
    for (i32 i = 0; i < kSettingsCategoryCount; ++i)
        g_sectionVisitor->visitCategory(i, kSettingsSections[i].name);
}

void visitSection(i32 category, SettingsVisitor& visitor)
{
    if (category < 0 || category >= kSettingsCategoryCount)
        QUERN_FATAL("Invalid settings category");
    const SettingsSection& section = kSettingsSections[category];
    for (u32 i = 0; i < section.keyCount; ++i) {
        const SettingKey& key = section.keys[i];
        switch (key.kind) {
        case SettingKind::String:
            visitor.visitString(key.key, field<const char*>(section.values, key));
            break;
        case SettingKind::Bool:
            visitor.visitBool(key.key, &field<bool>(section.values, key));
            break;
        case SettingKind::Float:
            visitor.visitFloat(key.key, &field<f32>(section.values, key));
            break;
        case SettingKind::Int:
            visitor.visitInt(key.key, &field<i32>(section.values, key));
            break;
        }
    }
}

void resetToDefaults()
{
    for (const SettingsSection& section : kSettingsSections) {
        std::memcpy(section.values, section.defaults, section.recordSize);
        std::memcpy(section.fileValues, section.defaults, section.recordSize);
        std::memcpy(section.commandLineValues, section.defaults, section.recordSize);
        std::memset(section.setOnCommandLine, 0, section.keyCount);
    }
}

} // namespace harmonize::Settings

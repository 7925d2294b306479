// "settings.ini" text and command-line options on arbitrary bytes: every entry
// goes through the settings model, whose own text is then read back.

#include "FuzzSupport.h"

#include "harmonize/Settings.h"
#include "quern/settings/CommandLineParser.h"
#include "quern/settings/IniParser.h"
#include "quern/strings/String.h"

#include <string>

namespace {

quern::i32 applyIni(void*, const char* section, const char* key, const char* value)
{
    return harmonize::Settings::setFromIni(section, key, value);
}

quern::i32 applyOption(void*, const char* key, const char* value)
{
    // "help" ends the process by design; it is no input fault.
    if (quern::strings::compareNoCase(key, "help") == 0)
        return 0;
    return harmonize::Settings::setFromCommandLine(key, value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    quern::fuzz::initialize();
    harmonize::Settings::resetToDefaults();
    const char* text = reinterpret_cast<const char*>(data);
    quern::fuzz::runGuarded([&] {
        quern::settings::parseIniText(text, text + size, applyIni);
        const std::string saved = harmonize::Settings::buildIniText();
        quern::settings::parseIniText(saved.c_str(), nullptr, applyIni);
    });
    quern::fuzz::runGuarded([&] {
        const std::string option(text, size);
        quern::settings::parseKeyValue(option.c_str(), applyOption);
    });
    harmonize::Settings::free();
    return 0;
}

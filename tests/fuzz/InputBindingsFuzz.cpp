// Key-binding texts and control names on arbitrary bytes: the first line is
// every binding list's setting text, the second a control name. The lists are
// parsed, rebound into the switcher's contexts, written back and parsed again.

#include "FuzzSupport.h"

#include "harmonize/Settings.h"
#include "harmonize/input/InputBindings.h"
#include "harmonize/input/InputSwitcher.h"

#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    quern::fuzz::initialize();
    static harmonize::InputSwitcher switcher;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = bytes.find('\n');
    const std::string text(bytes.substr(0, newline));
    const std::string_view name = newline == std::string_view::npos ? std::string_view {} : bytes.substr(newline + 1);
    quern::fuzz::runGuarded([&] {
        harmonize::InputSettings input;
        input.left = input.right = input.up = input.down = input.jump = input.suit = text.c_str();
        harmonize::parseBindings(input);
        for (quern::i32 list = 0; list < harmonize::kBindingListCount; ++list)
            harmonize::assignKey(list, quern::input::InputOrigin::KeyboardTab);
        switcher.bindContexts();
        harmonize::getBindingTexts(input);
        harmonize::parseBindings(input);
        for (quern::i32 state = -1; state <= harmonize::kInputSwitcherStateCount; ++state)
            harmonize::parseControlName(name, state);
    });
    // The written texts were interned: give them back so runs do not pile up.
    harmonize::Settings::free();
    return 0;
}

// The message-catalogue importer on arbitrary bytes: a level's translations
// come from a catalogue asset, read strictly in sequence.

#include "FuzzSupport.h"

#include "quern/containers/Array.h"
#include "quern/strings/ImportMO.h"
#include "quern/strings/StringInterner.h"

#include <cstring>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    using namespace quern;
    fuzz::initialize();
    fuzz::runGuarded([&] {
        std::istringstream input(std::string(reinterpret_cast<const char*>(data), size));
        strings::StringInterner interner;
        containers::Array keys(sizeof(strings::TranslationKeys), alignof(strings::TranslationKeys));
        if (!strings::importMO(input, interner, keys))
            return;
        // Every pair names two texts the interner holds, each a terminated
        // text no longer than the catalogue.
        for (u64 i = 0; i < keys.count(); ++i) {
            const strings::TranslationKeys& pair = keys.at<strings::TranslationKeys>(i);
            for (u64 key : { pair.source, pair.translation }) {
                const i64 at = interner.find(key);
                if (at < 0 || std::strlen(interner.text(static_cast<u64>(at))) > size)
                    __builtin_trap();
            }
        }
    });
    return 0;
}

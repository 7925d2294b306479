// The string-table readers on arbitrary bytes: the table file with lookups,
// and the interner chunk through both tokens.

#include "FuzzSupport.h"

#include "quern/io/StringSource.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/serialize/StringInternerSerialization.h"
#include "quern/serialize/TextPODToken.h"
#include "quern/strings/StringInterner.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    using namespace quern;
    fuzz::initialize();
    fuzz::runGuarded([&] {
        StringSource source(data, size);
        serialize::StringTable table;
        serialize::readStringTable(source, table, nullptr);
        // Look up every key the file holds, and one it may not.
        for (u32 i = 0; i < table.count(); ++i) {
            u64 key;
            std::memcpy(&key, static_cast<const u8*>(table.block) + 24 + u64{i} * 16, sizeof key);
            const char* text = table.find(key);
            if (!text || std::strlen(text) > size)
                __builtin_trap();
        }
        table.find(0x5555);
        table.release();
    });
    serialize::BinaryPODToken binary;
    serialize::TextPODToken text;
    for (serialize::PODToken* token : {static_cast<serialize::PODToken*>(&binary), static_cast<serialize::PODToken*>(&text)}) {
        fuzz::runGuarded([&] {
            StringSource source(data, size);
            strings::StringInterner interner;
            serialize::readStringInterner(source, *token, interner);
            for (u64 i = 0; i < interner.count(); ++i)
                if (interner.find(interner.key(i)) < 0)
                    __builtin_trap();
        });
    }
    return 0;
}

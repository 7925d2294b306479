// The text token's readers on arbitrary bytes, through both stream families.

#include "FuzzSupport.h"

#include "quern/io/StringSource.h"
#include "quern/serialize/TextPODToken.h"

#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    quern::fuzz::initialize();
    quern::serialize::TextPODToken token;
    quern::fuzz::runGuarded([&] {
        quern::StringSource source(data, size);
        quern::fuzz::readStructure(token, source);
    });
    quern::fuzz::runGuarded([&] {
        std::istringstream stream(std::string(reinterpret_cast<const char*>(data), size));
        quern::fuzz::readStructure(token, stream);
    });
    return 0;
}

#include "quern/debug/Log.h"

#include <cstring>
#include <iostream>

// Interim logger: prefixes and routes by level to the console only.
namespace quern::debug {

std::ostream& log(i32 level, const char* file, i32 line)
{
    std::ostream& out = (level == 1 || level == 2) ? std::cerr : std::cout;
    if (file && line != 0) {
        const char* base = file;
        for (const char* p = file; *p; ++p)
            if (*p == '/' || *p == '\\')
                base = p + 1;
        const char* dot = std::strrchr(base, '.');
        out << '[';
        out.write(base, dot ? dot - base : static_cast<std::streamsize>(std::strlen(base)));
        if (level == 1)
            out << ':' << line << ":error";
        else if (level == 2)
            out << ':' << line << ":warning";
        out << "] ";
    }
    return out;
}

} // namespace quern::debug

#include "StringTableWriter.h"

#include "quern/io/StringSink.h"
#include "quern/serialize/StringInternerSerialization.h"
#include "quern/strings/Hashes.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

namespace quern::assetbuild {
namespace {

std::string trimmed(const std::string& text)
{
    const char* blanks = " \t\r";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

} // namespace

bool writeStringTableFile(const std::string& sourcePath, const std::string& outPath, std::string& error)
{
    std::vector<u64> keys;
    std::vector<std::string> texts;
    if (!sourcePath.empty()) {
        std::ifstream in(sourcePath, std::ios::binary);
        if (!in) {
            error = "cannot read the string source " + sourcePath;
            return false;
        }
        std::string line;
        for (u32 number = 1; std::getline(in, line); ++number) {
            const std::string content = trimmed(line);
            if (content.empty() || content[0] == '#')
                continue;
            const size_t equals = content.find('=');
            const std::string key = equals == std::string::npos ? std::string() : trimmed(content.substr(0, equals));
            if (key.empty()) {
                error = sourcePath + ":" + std::to_string(number) + ": expected key = text";
                return false;
            }
            const u64 hash = strings::murmurHash64A(key.data(), key.size(), strings::kInternerSeed);
            for (u64 existing : keys) {
                if (existing == hash) {
                    error = sourcePath + ":" + std::to_string(number) + ": the key " + key + " is given twice";
                    return false;
                }
            }
            keys.push_back(hash);
            texts.push_back(trimmed(content.substr(equals + 1)));
        }
    }
    std::vector<const char*> textPointers;
    for (const std::string& text : texts)
        textPointers.push_back(text.c_str());
    StringSink sink;
    serialize::writeStringTable(sink, keys.data(), textPointers.data(), static_cast<u32>(keys.size()));
    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    out.write(sink.text.data(), static_cast<std::streamsize>(sink.text.size()));
    if (!out) {
        error = "cannot write " + outPath;
        return false;
    }
    return true;
}

} // namespace quern::assetbuild

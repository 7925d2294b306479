#include "SourceText.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace quern::assetbuild {

std::vector<SourceLine> splitLines(const std::vector<u8>& bytes)
{
    std::vector<SourceLine> lines;
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string text;
    for (u32 number = 1; std::getline(in, text); ++number) {
        text = text.substr(0, text.find('#'));
        std::istringstream words(text);
        SourceLine line { number, {}, text };
        for (std::string word; words >> word;)
            line.words.push_back(word);
        if (!line.words.empty())
            lines.push_back(std::move(line));
    }
    return lines;
}

bool parseNumber(const std::string& word, u64 limit, u32& value)
{
    if (word.empty() || word.size() > 10 || !std::all_of(word.begin(), word.end(), ::isdigit))
        return false;
    const u64 parsed = std::stoull(word);
    if (parsed > limit)
        return false;
    value = static_cast<u32>(parsed);
    return true;
}

bool parseFloat(const std::string& word, f32& value)
{
    char* end = nullptr;
    const f32 parsed = std::strtof(word.c_str(), &end);
    if (word.empty() || end != word.c_str() + word.size() || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

std::filesystem::path sourcePath(const std::string& sourceDirectory, const std::string& file)
{
    const std::filesystem::path path(file);
    return path.is_absolute() ? path : std::filesystem::path(sourceDirectory) / path;
}

} // namespace quern::assetbuild

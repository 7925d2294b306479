#include "AssetManifest.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace quern::assetbuild {
namespace {

bool startsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

bool parseU32(const std::string& text, u32& value)
{
    const bool hex = startsWith(text, "0x") || startsWith(text, "0X");
    const std::string digits = hex ? text.substr(2) : text;
    const auto isDigit = [hex](char c) { return hex ? std::isxdigit(static_cast<unsigned char>(c)) != 0 : c >= '0' && c <= '9'; };
    if (digits.empty() || digits.size() > 10 || !std::all_of(digits.begin(), digits.end(), isDigit))
        return false;
    const unsigned long long parsed = std::stoull(digits, nullptr, hex ? 16 : 10);
    if (parsed > 0xFFFFFFFFull)
        return false;
    value = static_cast<u32>(parsed);
    return true;
}

} // namespace

bool parseManifest(const std::string& text, Manifest& manifest, std::string& error)
{
    std::istringstream lines(text);
    std::string line;
    u32 number = 0;
    while (std::getline(lines, line)) {
        ++number;
        const size_t comment = line.find('#');
        if (comment != std::string::npos)
            line.resize(comment);
        std::istringstream words(line);
        std::vector<std::string> tokens;
        for (std::string word; words >> word;)
            tokens.push_back(word);
        if (tokens.empty())
            continue;
        if (tokens.size() < 2) {
            error = "line " + std::to_string(number) + ": an asset needs a name and a type word";
            return false;
        }
        ManifestAsset asset;
        asset.name = tokens[0];
        asset.type = tokens[1];
        asset.line = number;
        for (size_t i = 2; i < tokens.size(); ++i) {
            const std::string& token = tokens[i];
            if (startsWith(token, "blob="))
                asset.blob = token.substr(5);
            else if (startsWith(token, "codec="))
                asset.codec = token.substr(6);
            else if (startsWith(token, "stage="))
                asset.stage = token.substr(6);
            else if (startsWith(token, "gamevalue=")) {
                if (!parseU32(token.substr(10), asset.gameValue)) {
                    error = "line " + std::to_string(number) + ": gamevalue takes a 32-bit number, not " + token.substr(10);
                    return false;
                }
            }
            else if (token.find('=') != std::string::npos) {
                error = "line " + std::to_string(number) + ": unknown option " + token;
                return false;
            } else
                asset.dependencies.push_back(token);
        }
        if (!asset.codec.empty() && asset.codec != "rle") {
            error = "line " + std::to_string(number) + ": unknown codec " + asset.codec;
            return false;
        }
        manifest.assets.push_back(std::move(asset));
    }
    return true;
}

} // namespace quern::assetbuild

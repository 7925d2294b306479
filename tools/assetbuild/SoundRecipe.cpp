#include "SoundRecipe.h"

#include "ExternalProgram.h"

#include "quern/strings/PackedName.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace quern::assetbuild {
namespace {

constexpr u64 kMaxEffectWords = 64;
constexpr u64 kMaxWordLength = 32;

bool plainWord(const std::string& word)
{
    if (word.empty() || word.size() > kMaxWordLength)
        return false;
    for (const char c : word) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!letter && c != '.' && c != ':' && c != '+' && c != '-' && c != '%')
            return false;
    }
    return word[0] != '-' || (word.size() > 1 && word[1] >= '0' && word[1] <= '9');
}

bool parseCount(const std::string& word, u32 low, u32 high, u32& value)
{
    if (word.empty() || word.size() > 6 || word.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = static_cast<u32>(std::stoul(word));
    return value >= low && value <= high;
}

bool renderRecipe(const SoundRecipe& recipe, std::vector<u8>& ogg, std::string& error)
{
    const ScratchFolder folder("assetbuild-sound");
    if (!folder.made()) {
        error = "cannot make a temporary folder";
        return false;
    }
    const std::string wave = folder.file("sound.wav");
    const std::string out = folder.file("sound.ogg");
    std::vector<std::string> sox = { "sox", "-q", "-n", "-r", std::to_string(recipe.rate), "-c",
        std::to_string(recipe.channels), "-b", "16", wave };
    sox.insert(sox.end(), recipe.effects.begin(), recipe.effects.end());
    bool ok = runProgram(sox);
    if (!ok)
        error = "sox failed";
    else if (!(ok = runProgram({ "oggenc", "-Q", "-o", out, wave })))
        error = "oggenc failed";
    if (ok) {
        std::ifstream in(out, std::ios::binary);
        ogg.assign(std::istreambuf_iterator<char>(in), {});
    }
    return ok;
}

} // namespace

bool parseSoundRecipe(const std::vector<u8>& text, SoundRecipe& recipe, std::string& error)
{
    std::istringstream words(std::string(text.begin(), text.end()));
    std::vector<std::string> w;
    for (std::string word; words >> word;) {
        if (w.size() >= kMaxEffectWords + 3) {
            error = "a recipe holds at most " + std::to_string(kMaxEffectWords) + " effect words";
            return false;
        }
        w.push_back(word);
    }
    if (w.size() < 4 || w[0] != "sox") {
        error = "a recipe is: sox <rate> <channels> <effects...>";
        return false;
    }
    if (!parseCount(w[1], 8000, 192000, recipe.rate) || !parseCount(w[2], 1, 2, recipe.channels)) {
        error = "the rate is 8000 to 192000 and the channels 1 or 2";
        return false;
    }
    recipe.effects.assign(w.begin() + 3, w.end());
    for (const std::string& word : recipe.effects) {
        if (!plainWord(word)) {
            error = "effect word " + word.substr(0, kMaxWordLength) + " is not plain";
            return false;
        }
    }
    return true;
}

bool convertSoundRecipe(const ManifestAsset& asset, std::vector<u8>& bytes, std::string& error)
{
    static const u64 kSoundType = packName("audiostream");
    // Anything else is left to the Ogg check, which names what is wrong with it.
    const bool recipeText = bytes.size() >= 4 && bytes[0] == 's' && bytes[1] == 'o' && bytes[2] == 'x'
        && (bytes[3] == ' ' || bytes[3] == '\t');
    if (packName(asset.type.c_str()) != kSoundType || !recipeText)
        return true;
    SoundRecipe recipe;
    std::string reason;
    std::vector<u8> made;
    if (!parseSoundRecipe(bytes, recipe, reason) || !renderRecipe(recipe, made, reason)) {
        error = "line " + std::to_string(asset.line) + ": sound " + asset.name + ": " + reason;
        return false;
    }
    bytes = std::move(made);
    return true;
}

} // namespace quern::assetbuild

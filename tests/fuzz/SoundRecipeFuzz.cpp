// The content tool's sound recipes on arbitrary text: a recipe is accepted
// only with a rate, channels and plain effect words, and nothing is run.

#include "FuzzSupport.h"

#include "SoundRecipe.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    quern::fuzz::initialize();
    quern::assetbuild::SoundRecipe recipe;
    std::string error;
    if (quern::assetbuild::parseSoundRecipe(std::vector<quern::u8>(data, data + size), recipe, error)) {
        if (recipe.channels < 1 || recipe.channels > 2 || recipe.effects.empty())
            __builtin_trap();
        for (const std::string& word : recipe.effects) {
            if (word.empty() || word.find_first_of(" \t\n;|&$`'\"\\<>()*?") != std::string::npos)
                __builtin_trap();
        }
    }
    return 0;
}

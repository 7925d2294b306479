#include "quern/openal/OpenALEFX.h"

namespace quern::openal {
namespace {
EFXEntryPoints g_efx;
} // namespace

void loadEFX()
{
#define QUERN_EFX_LOAD(Type, name) g_efx.name = reinterpret_cast<Type>(alGetProcAddress(#name));
    QUERN_EFX_ENTRY_POINTS(QUERN_EFX_LOAD)
#undef QUERN_EFX_LOAD
}

bool hasEFX()
{
    bool all = true;
#define QUERN_EFX_PRESENT(Type, name) all = all && g_efx.name != nullptr;
    QUERN_EFX_ENTRY_POINTS(QUERN_EFX_PRESENT)
#undef QUERN_EFX_PRESENT
    return all;
}

const EFXEntryPoints& efx() { return g_efx; }

} // namespace quern::openal

#pragma once
// A threading settings record made in one expression.

#include "harmonize/SettingsTable.h"

namespace harmonize::testing {

inline ThreadingSettings threading(bool enabled, i32 workers, i32 reservedCores)
{
    ThreadingSettings settings;
    settings.enabled = enabled;
    settings.workers = workers;
    settings.reservedCores = reservedCores;
    return settings;
}

} // namespace harmonize::testing

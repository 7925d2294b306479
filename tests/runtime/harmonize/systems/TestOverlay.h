#pragma once
// An overlay batch as systems use it during a world update: built over an
// empty level list and a prompter, without device resources, so that the
// items a system adds can be read back from the list being built.

#include "harmonize/hud/OverlayBatch.h"
#include "harmonize/input/InputPrompter.h"
#include "harmonize/input/InputSwitcher.h"
#include "harmonize/levels/LevelList.h"
#include "harmonize/tasks/LoadingWorker.h"

namespace harmonize::testing {

struct TestOverlay {
    const std::vector<OverlayItem>& items() const { return batch.buildingItems(); }

    LoadingWorker worker { nullptr, nullptr };
    LevelList levels;
    InputSwitcher switcher;
    InputPrompter prompter { levels, switcher };
    OverlayBatch batch { worker, levels, prompter };
};

} // namespace harmonize::testing

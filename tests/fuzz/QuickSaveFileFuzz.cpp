// The persistent quick save on arbitrary bytes, read as a level start reads
// it, against a small world; whatever the check lets through is restored into
// that world. The check promises that reading and restoring never reach the
// fatal path, so a fatal error here escapes the target and counts as a crash.

#include "FuzzSupport.h"
#include "QuickSaveFuzzWorld.h"

#include "harmonize/systems/QuickSaveFile.h"

#include "quern/entity/World.h"
#include "quern/entity/WorldSnapshot.h"

extern "C" int LLVMFuzzerTestOneInput(const quern::u8* data, std::size_t size)
{
    using namespace quern;
    fuzz::initialize();
    entity::World world;
    fuzz::buildQuickSaveWorld(world);
    entity::WorldSnapshot snapshot;
    if (harmonize::readQuickSave(data, size, snapshot, nullptr, world, fuzz::kQuickSaveLevel)) {
        world.restoreSnapshot(snapshot);
        (void)world.worldChecksum();
    }
    entity::release(snapshot, nullptr);
    return 0;
}

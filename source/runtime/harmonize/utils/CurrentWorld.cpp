#include "harmonize/utils/CurrentWorld.h"

namespace harmonize {
namespace {

thread_local quern::entity::World* t_currentWorld = nullptr;

} // namespace

quern::entity::World* currentWorld() { return t_currentWorld; }
void setCurrentWorld(quern::entity::World* world) { t_currentWorld = world; }

} // namespace harmonize

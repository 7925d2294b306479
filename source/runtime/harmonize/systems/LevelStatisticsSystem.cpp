#include "harmonize/systems/LevelStatisticsSystem.h"

#include "harmonize/extensions/PlayerView.h"
#include "harmonize/input/InputActions.h"
#include "harmonize/input/InputSwitcher.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/CollectibleSystem.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/RenderSystem.h"
#include "harmonize/systems/SaveGameSystem.h"
#include "harmonize/systems/SoundSystem.h"

#include "quern/debug/Log.h"
#include "quern/entity/World.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <ostream>

namespace harmonize {
namespace {

using quern::entity::World;

// The resume points of the count-up.
constexpr i32 kCountUpStart = 0;
constexpr i32 kCountUpBegin = 1;
constexpr i32 kCountUpTime = 2;
constexpr i32 kCountUpDeaths = 3;
constexpr i32 kCountUpCollected = 4;

constexpr f32 kCountUpDelay = 2.2f; // seconds before the board starts counting
constexpr f32 kTimeCountSeconds = 0.3f; // the time runs up to its value in this long
constexpr f32 kTickInterval = 0.1f; // seconds between two death or collectible ticks

constexpr u64 kStartSound = kTallySoundIds[0];
constexpr u64 kDeathTickSound = kTallySoundIds[1];
constexpr u64 kCollectibleTickSound = kTallySoundIds[2];

void playTally(AppContext& context, u64 sound)
{
    if (context.sound)
        context.sound->playSound(sound);
}

// The time shown x seconds into its count: it grows linearly to the final
// time. A run longer than the board's number holds shows the largest one.
i32 timeShownAt(f32 x, u32 timeMs)
{
    const f64 shown = static_cast<f64>(x * (1.0f / kTimeCountSeconds)) * static_cast<f64>(timeMs);
    return shown < static_cast<f64>(std::numeric_limits<i32>::max()) ? static_cast<i32>(shown)
                                                                      : std::numeric_limits<i32>::max();
}

bool runCountUp(void* userData, Coroutine& coroutine, World& world, AppContext& context)
{
    StatisticsCountUp& count = *static_cast<StatisticsCountUp*>(userData);
    const CapturedLevelResult& result = *count.result;
    switch (coroutine.resumePoint) {
    case kCountUpStart:
        coroutine.resumePoint = kCountUpBegin;
        coroutine.wait = kCountUpDelay;
        return true;
    case kCountUpBegin:
        count.startTime = world.currentTime;
        playTally(context, kStartSound);
        count.shownTime = 0;
        coroutine.resumePoint = kCountUpTime;
        return true;
    case kCountUpTime: {
        const f32 x = static_cast<f32>(static_cast<f64>(world.currentTime - count.startTime) / 1'000'000.0);
        if (x < kTimeCountSeconds) {
            count.shownTime = timeShownAt(x, result.timeMs);
            return true;
        }
        count.shownTime = static_cast<i32>(std::min<u32>(result.timeMs, std::numeric_limits<i32>::max()));
        coroutine.resumePoint = kCountUpDeaths;
        [[fallthrough]];
    }
    case kCountUpDeaths:
        if (count.shownDeaths < result.deaths) {
            ++count.shownDeaths;
            playTally(context, kDeathTickSound);
            coroutine.wait = kTickInterval;
            return true;
        }
        coroutine.resumePoint = kCountUpCollected;
        [[fallthrough]];
    case kCountUpCollected:
        if (count.shownCollected < result.collected) {
            ++count.shownCollected;
            if (context.collectible)
                context.collectible->consumeCollectible();
            playTally(context, kCollectibleTickSound);
            coroutine.wait = kTickInterval;
            return true;
        }
        return endCoroutine(coroutine);
    default:
        return endCoroutine(coroutine);
    }
}

} // namespace

LevelStatisticsSystem::LevelStatisticsSystem(AppContext& context)
    : m_context(&context)
{
}

void LevelStatisticsSystem::worldStarted(World& world, quern::memory::Allocator*)
{
    m_deaths = 0;
    m_quickSaveCount = 0;
    m_lastTime = 0;
    m_playTime = 0;
    m_quickSavePlayTime = 0;
    m_display = EntityHandle {};
    m_submitted = false;
    m_captured = false;
    m_result = {};
    m_countUp = {};
    for (u64 i = 0; i < world.getSlotCount(); ++i) {
        if (world.getGeneration(i) == 0 || !world.getEnabledMask(i).test(LevelStatisticsDisplay::kType))
            continue;
        m_display = EntityHandle::make(static_cast<quern::u16>(i), world.getGeneration(i));
        if (!m_context->render)
            continue;
        // The board is drawn over the post effects; its rank waits hidden
        // until the leaderboard answers.
        m_context->render->setVisibleRecursive(i, 1, world);
        const LevelStatisticsDisplay& board = *componentOf<LevelStatisticsDisplay>(world, m_display);
        if (const Transform* rank = componentOf<Transform>(world, board.rankText))
            m_context->render->setRenderEnabledRecursive(rank->parent, world, false);
    }
}

void LevelStatisticsSystem::fixedTick(quern::entity::UpdateContext*, World& world)
{
    const u64 now = world.currentTime;
    if (m_lastTime == 0)
        m_lastTime = now;
    const u64 delta = now - m_lastTime;
    m_lastTime = now;
    // Only the game itself counts: a world without an input switcher has no
    // menus to pause it.
    const InputSwitcher* switcher = m_context->services.inputSwitcher;
    const bool playing = !switcher || switcher->topState() == kInputStateGame;
    if (playing && !m_submitted)
        m_playTime += delta;
}

void LevelStatisticsSystem::describe(quern::entity::SystemInfo* info) { info->name = "LevelStatisticsSystem"; }

void LevelStatisticsSystem::countDeath()
{
    const SaveGameSystem* saves = m_context->saveGame;
    if (saves && isSomeEntity(EntityHandle { saves->savedSavePoint })) {
        ++m_deaths;
        QUERN_LOG(3) << "Deaths: " << m_deaths << std::endl;
    } else {
        m_playTime = m_quickSavePlayTime;
    }
}

void LevelStatisticsSystem::saveQuickSave()
{
    ++m_quickSaveCount;
    m_quickSavePlayTime = m_playTime;
}

void LevelStatisticsSystem::captureLevelStats(World& world)
{
    if (!isSomeEntity(m_display) || m_captured)
        return;
    m_captured = true;
    const CollectibleSystem* collectibles = m_context->collectible;
    m_result.deaths = m_deaths;
    m_result.pickedUp = collectibles ? static_cast<i32>(collectibles->collectedListCount()) : 0;
    m_result.collected = collectibles ? collectibles->collectedCount() : 0;
    m_result.collectiblesInLevel = collectibles ? static_cast<i32>(collectibles->collectiblesInWorld()) : 0;
    m_result.timeMs = static_cast<u32>(m_playTime / 1000);
    m_countUp = {};
    m_countUp.startTime = world.currentTime;
    m_countUp.result = &m_result;
    if (m_context->coroutine)
        m_context->coroutine->start(&runCountUp, &m_countUp);
}

void formatLevelTime(char* buffer, u64 size, u32 milliseconds)
{
    const f32 s = static_cast<f32>(milliseconds) * 0.001f;
    const f32 minutes = std::floor(s * 0.016666668f);
    const f32 seconds = std::floor(s - minutes * 60.0f);
    const f32 hundredths = std::floor((s - minutes * 60.0f - seconds) * 100.0f);
    std::snprintf(buffer, size, "%2d:%02d.%02d", static_cast<int>(minutes), static_cast<int>(seconds),
        static_cast<int>(hundredths));
}

} // namespace harmonize

#include "harmonize/systems/LevelStatisticsSystem.h"

#include "harmonize/PlayerProfile.h"
#include "harmonize/extensions/PlayerView.h"
#include "harmonize/input/InputActions.h"
#include "harmonize/input/InputSwitcher.h"
#include "harmonize/levels/LevelList.h"
#include "harmonize/platform/PlatformServices.h"
#include "harmonize/systems/AppContext.h"
#include "harmonize/systems/CollectibleSystem.h"
#include "harmonize/systems/CoroutineSystem.h"
#include "harmonize/systems/RenderSystem.h"
#include "harmonize/systems/SaveGameSystem.h"
#include "harmonize/systems/SoundSystem.h"
#include "harmonize/systems/TextRendererSystem.h"
#include "harmonize/tasks/TaskDispatcher.h"

#include "quern/LittleEndian.h"
#include "quern/debug/Log.h"
#include "quern/entity/World.h"
#include "quern/memory/DefaultAllocator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
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

// The session counts once per process, whichever level world starts first.
std::atomic<bool> g_sessionCounted { false };

// Find-leaderboard arguments the storefront expects of a time board.
constexpr i32 kLeaderboardSortMethod = 2;
constexpr i32 kLeaderboardDisplayType = 0;

u8 cappedByte(i32 value) { return static_cast<u8>(std::clamp(value, 0, 255)); }

// The parent of the board's rank text: it frames the rank and shows with it.
quern::entity::EntityHandle rankPanel(const LevelStatisticsDisplay& board, World& world)
{
    const Transform* rank = componentOf<Transform>(world, board.rankText);
    return rank ? rank->parent : quern::entity::EntityHandle {};
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

void writeLeaderboardScoreDetails(u8 (&details)[kLeaderboardScoreDetailsSize], const SubmittedRun& run)
{
    std::memset(details, 0, sizeof details);
    details[0] = kLeaderboardScoreDetailsSize;
    details[2] = 2;
    details[3] = cappedByte(run.deaths);
    details[5] = cappedByte(run.collected);
    details[6] = cappedByte(run.collectiblesInLevel);
    quern::writeLittleEndian(details + 8, static_cast<u32>(run.levelValue), 4);
}

LeaderboardSubmitTask::LeaderboardSubmitTask(PlatformServices& platform, u64 leaderboard, const SubmittedRun& run,
    std::atomic<bool>* submitted, quern::memory::Allocator* allocator)
    : Task(1)
    , RefCounted(1)
    , m_platform(&platform)
    , m_allocator(allocator ? allocator : quern::memory::getDefaultAllocator())
    , m_submitted(submitted)
    , m_leaderboard(leaderboard)
    , m_run(run)
{
}

void LeaderboardSubmitTask::run(quern::threads::TaskRange)
{
    auto* details = static_cast<u8(*)[kLeaderboardScoreDetailsSize]>(
        m_allocator->allocate(kLeaderboardScoreDetailsSize, alignof(u32)));
    writeLeaderboardScoreDetails(*details, m_run);
    m_platform->uploadScore(m_leaderboard,
        LeaderboardScore { details, kLeaderboardScoreDetailsSize, static_cast<i32>(m_run.timeMs) });
    m_submitted->store(true, std::memory_order_release);
    // The details go back while the task still exists: releasing may be the
    // last thing this object does.
    quern::memory::Allocator* allocator = m_allocator;
    allocator->free(details);
    release(static_cast<RefCounted*>(this));
}

LevelStatisticsSystem::LevelStatisticsSystem(AppContext& context)
    : m_context(&context)
{
}

LevelStatisticsSystem::~LevelStatisticsSystem() { releaseSubmission(true); }

void LevelStatisticsSystem::forgetSessionCounted() { g_sessionCounted.store(false); }

void LevelStatisticsSystem::worldStarted(World& world, quern::memory::Allocator*)
{
    countSession();
    releaseSubmission(true);
    m_deaths = 0;
    m_quickSaveCount = 0;
    m_lastTime = 0;
    m_playTime = 0;
    m_quickSavePlayTime = 0;
    m_display = EntityHandle {};
    m_rank = 0;
    m_levelValue = 0;
    m_submitted.store(false, std::memory_order_release);
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
        m_context->render->setRenderEnabledRecursive(rankPanel(board, world), world, false);
    }
    findLeaderboard();
}

void LevelStatisticsSystem::countSession()
{
    if (g_sessionCounted.exchange(true))
        return;
    u32& sessions = *PlayerProfile::statCounter(kStatSessions);
    PlatformServices* platform = m_context->services.platformServices;
    if (platform && PlayerProfile::statsReceived)
        platform->storeStatistic(kStatNames[kStatSessions], sessions + 1);
    sessions += 1;
}

void LevelStatisticsSystem::findLeaderboard()
{
    const LevelList* levels = m_context->services.levelList;
    PlatformServices* platform = m_context->services.platformServices;
    if (!levels || !platform || !levels->loaded())
        return;
    const u8* record = levels->findRecordOfIndex(m_context->levelIndex);
    if (record && LevelList::recordLeaderboardName(record)[0] != '\0')
        platform->findLeaderboard(
            LevelList::recordLeaderboardName(record), kLeaderboardSortMethod, kLeaderboardDisplayType);
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
    if (playing && !m_submitted.load(std::memory_order_acquire))
        m_playTime += delta;
}

void LevelStatisticsSystem::update(quern::entity::UpdateContext*, World& world)
{
    releaseSubmission(false);
    TextRendererSystem* texts = m_context->textRenderer;
    const LevelStatisticsDisplay* board = componentOf<LevelStatisticsDisplay>(world, m_display);
    if (!m_captured || !texts || !board)
        return;
    std::snprintf(m_deathsText, sizeof m_deathsText, "%d", m_countUp.shownDeaths);
    std::snprintf(m_collectedText, sizeof m_collectedText, "%d / %d", m_countUp.shownCollected,
        m_result.collectiblesInLevel);
    formatLevelTime(m_timeText, sizeof m_timeText, static_cast<u32>(m_countUp.shownTime));
    texts->setText(board->deathsText, m_deathsText, world);
    texts->setText(board->collectiblesText, m_collectedText, world);
    texts->setText(board->timeText, m_timeText, world);
}

void LevelStatisticsSystem::showLeaderboardRank(i32 rank, World& world)
{
    m_rank = rank;
    const LevelStatisticsDisplay* board = componentOf<LevelStatisticsDisplay>(world, m_display);
    if (rank == 0 || !board)
        return;
    std::snprintf(m_rankText, sizeof m_rankText, "#%d", rank);
    if (m_context->textRenderer)
        m_context->textRenderer->setText(board->rankText, m_rankText, world);
    if (m_context->render)
        m_context->render->setRenderEnabledRecursive(rankPanel(*board, world), world, true);
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
    if (!isSomeEntity(m_display))
        return;
    if (!m_captured)
        freezeResult(world);
    if (m_leaderboard != 0 && !m_submitted.load(std::memory_order_acquire))
        submit();
}

void LevelStatisticsSystem::freezeResult(World& world)
{
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

void LevelStatisticsSystem::submit()
{
    m_submitted.store(true, std::memory_order_release);
    const CollectibleSystem* collectibles = m_context->collectible;
    const SubmittedRun run {
        m_deaths,
        collectibles ? static_cast<i32>(collectibles->collectedListCount()) : 0,
        collectibles ? collectibles->collectedCount() : 0,
        collectibles ? static_cast<i32>(collectibles->collectiblesInWorld()) : 0,
        static_cast<u32>(m_playTime / 1000),
        m_levelValue,
    };
    PlatformServices* platform = m_context->services.platformServices;
    if (platform) {
        auto* task = new LeaderboardSubmitTask(*platform, m_leaderboard, run, &m_submitted);
        // Ours until the dispatcher is done with it; the task drops its own.
        m_submission = quern::Ref(static_cast<quern::RefCounted*>(task));
        if (TaskDispatcher* dispatcher = m_context->services.taskDispatcher)
            dispatcher->run(*task);
        else
            quern::threads::Task::runInline(*task);
        releaseSubmission(false);
    }
    PlayerProfile::addToStat(platform, kStatPlaytime, run.timeMs);
}

void LevelStatisticsSystem::releaseSubmission(bool wait)
{
    if (!m_submission)
        return;
    auto* task = m_submission.getCounted<LeaderboardSubmitTask>();
    if (wait && !task->isComplete()) {
        if (TaskDispatcher* dispatcher = m_context->services.taskDispatcher; dispatcher && dispatcher->threaded())
            dispatcher->wait(*task);
    }
    if (task->isComplete())
        m_submission.reset();
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

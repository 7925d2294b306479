#include "harmonize/utils/Tweens.h"

#include <cmath>
#include <limits>

namespace harmonize {

namespace {

// The constants are the single-precision values the curves were tuned with;
// replays compare positions bit for bit, so none is recomputed here.
constexpr f32 kTwoPi = 6.2831855f;
constexpr f32 kElasticPeriod = 0.3f; // of the duration
constexpr f32 kElasticInOutPeriod = 0.45000002f; // 0.3f * 1.5f
constexpr f32 kBackOvershoot = 1.70158f;
constexpr f32 kBackOvershootPlusOne = 2.70158f;
constexpr f32 kBackInOutOvershoot = 2.5949094f; // 1.70158f * 1.525f
constexpr f32 kBackInOutOvershootPlusOne = 3.5949094f;
constexpr f32 kEpsilon = std::numeric_limits<f32>::epsilon();

bool isStart(f32 t) { return std::fabs(t) <= kEpsilon; }
bool isEnd(f32 t) { return std::fabs(t - 1.0f) <= kEpsilon; }

// The period scales with d and the phase with 1 / d, so d cancels out of the
// curve; a zero duration would only turn it into 0 / 0.
f32 elasticDuration(f32 d) { return std::fabs(d) < std::numeric_limits<f32>::min() ? 1.0f : d; }

// sin((u d - s) 2 pi / p) for the period p = period * d and s = p / 4.
f32 elasticWave(f32 u, f32 d, f32 period)
{
    const f32 p = period * d;
    const f32 s = p / 4.0f;
    return std::sin((u * d - s) * kTwoPi / p);
}

} // namespace

f32 easeLinear(f32 t, f32 b, f32 c, f32) { return c * t + b; }

f32 easeElasticIn(f32 t, f32 b, f32 c, f32 d)
{
    if (isStart(t))
        return b;
    if (isEnd(t))
        return b + c;
    const f32 u = t - 1.0f;
    return b - c * std::exp2(10.0f * u) * elasticWave(u, elasticDuration(d), kElasticPeriod);
}

f32 easeElasticOut(f32 t, f32 b, f32 c, f32 d)
{
    if (isStart(t))
        return b;
    if (isEnd(t))
        return b + c;
    return c * std::exp2(-10.0f * t) * elasticWave(t, elasticDuration(d), kElasticPeriod) + c + b;
}

f32 easeElasticInOut(f32 t, f32 b, f32 c, f32 d)
{
    if (isStart(t))
        return b;
    if (isEnd(t))
        return b + c;
    const f32 u = 2.0f * t - 1.0f;
    const f32 wave = elasticWave(u, elasticDuration(d), kElasticInOutPeriod);
    if (u < 0.0f)
        return b - 0.5f * c * std::exp2(10.0f * u) * wave;
    return 0.5f * c * std::exp2(-10.0f * u) * wave + c + b;
}

f32 easeBackIn(f32 t, f32 b, f32 c, f32) { return c * t * t * (kBackOvershootPlusOne * t - kBackOvershoot) + b; }

f32 easeBackOut(f32 t, f32 b, f32 c, f32)
{
    const f32 u = t - 1.0f;
    return c * (u * u * (kBackOvershootPlusOne * u + kBackOvershoot) + 1.0f) + b;
}

f32 easeBackInOut(f32 t, f32 b, f32 c, f32)
{
    f32 u = 2.0f * t;
    const f32 h = c / 2.0f;
    if (u < 1.0f)
        return h * u * u * (kBackInOutOvershootPlusOne * u - kBackInOutOvershoot) + b;
    u -= 2.0f;
    return h * (u * u * (kBackInOutOvershootPlusOne * u + kBackInOutOvershoot) + 2.0f) + b;
}

void updateTweens(f32 dt, Tween* first, Tween* end)
{
    for (Tween* tween = first; tween != end; ++tween) {
        if (!tween->target)
            continue;
        if (tween->elapsed == 0.0f)
            tween->start = *tween->target;
        tween->elapsed += dt;
        if (tween->elapsed >= tween->duration) {
            *tween->target = *tween->end;
            // Freed first, so a callback that re-arms this very record keeps
            // its new tween.
            tween->target = nullptr;
            if (tween->onComplete)
                tween->onComplete(nullptr, tween->userData);
            continue;
        }
        *tween->target
            = tween->ease(tween->elapsed / tween->duration, tween->start, *tween->end - tween->start, tween->duration);
    }
}

} // namespace harmonize

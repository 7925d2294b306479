#include "harmonize/utils/Tweens.h"

#include "quern/platform/FloatingPointTraps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

namespace harmonize {
namespace {

constexpr f32 kEpsilon = std::numeric_limits<f32>::epsilon();

// The curves as written, in double and with the same tuned constants, so the
// float code is checked against the formulas rather than against itself.
constexpr double kTwoPi = 6.2831855;

double snapped(double t, double b, double c, double formula)
{
    if (std::fabs(t) <= kEpsilon)
        return b;
    if (std::fabs(t - 1.0) <= kEpsilon)
        return b + c;
    return formula;
}

double wave(double u, double d, double period)
{
    const double p = period * d;
    const double s = p / 4.0;
    return std::sin((u * d - s) * kTwoPi / p);
}

double linear(double t, double b, double c, double) { return c * t + b; }

double elasticIn(double t, double b, double c, double d)
{
    const double u = t - 1.0;
    return snapped(t, b, c, b - c * std::pow(2.0, 10.0 * u) * wave(u, d, 0.3));
}

double elasticOut(double t, double b, double c, double d)
{
    return snapped(t, b, c, c * std::pow(2.0, -10.0 * t) * wave(t, d, 0.3) + c + b);
}

double elasticInOut(double t, double b, double c, double d)
{
    const double u = 2.0 * t - 1.0;
    const double w = wave(u, d, 0.45000002);
    const double formula
        = u < 0.0 ? b - 0.5 * c * std::pow(2.0, 10.0 * u) * w : 0.5 * c * std::pow(2.0, -10.0 * u) * w + c + b;
    return snapped(t, b, c, formula);
}

double backIn(double t, double b, double c, double) { return c * t * t * (2.70158 * t - 1.70158) + b; }

double backOut(double t, double b, double c, double)
{
    const double u = t - 1.0;
    return c * (u * u * (2.70158 * u + 1.70158) + 1.0) + b;
}

double backInOut(double t, double b, double c, double)
{
    const double u = 2.0 * t;
    const double h = c / 2.0;
    if (u < 1.0)
        return h * u * u * (3.5949094 * u - 2.5949094) + b;
    const double v = u - 2.0;
    return h * (v * v * (3.5949094 * v + 2.5949094) + 2.0) + b;
}

struct Curve {
    const char* name;
    EaseFunction ease;
    double (*formula)(double t, double b, double c, double d);
};

const Curve kCurves[] = {
    { "linear", easeLinear, linear },
    { "elastic in", easeElasticIn, elasticIn },
    { "elastic out", easeElasticOut, elasticOut },
    { "elastic in-out", easeElasticInOut, elasticInOut },
    { "back in", easeBackIn, backIn },
    { "back out", easeBackOut, backOut },
    { "back in-out", easeBackInOut, backInOut },
};

struct Move {
    f32 b;
    f32 c;
    f32 d;
};

const Move kMoves[] = {
    { 0.0f, 1.0f, 1.0f },
    { 3.0f, -5.0f, 0.5f },
    { -100.0f, 250.0f, 2.0f },
    { 1.0f, 0.001f, 0.1f },
};

TEST(Easing, CurvesFollowTheirFormulas)
{
    const f32 times[] = {
        0.0f,
        0x1p-24f, // within epsilon of 0
        kEpsilon, // at epsilon: still counts as 0
        3e-7f,
        0.1f,
        0.25f,
        0.4f,
        0.5f,
        0.63f, // the back curves' turning region
        0.75f,
        0.9f,
        1.0f - 0x1p-22f, // just outside epsilon of 1
        1.0f - 0x1p-24f, // within epsilon of 1
        1.0f,
    };
    for (const Curve& curve : kCurves) {
        for (const Move& move : kMoves) {
            for (const f32 t : times) {
                const double expected = curve.formula(t, move.b, move.c, move.d);
                // A few units in the last place of the values the move spans.
                const double tolerance = 4.0 * kEpsilon * (std::fabs(move.b) + std::fabs(move.c));
                EXPECT_NEAR(curve.ease(t, move.b, move.c, move.d), expected, tolerance)
                    << curve.name << " at t " << t << ", b " << move.b << ", c " << move.c << ", d " << move.d;
            }
        }
    }
}

TEST(Easing, EveryCurveStartsAndEndsExactly)
{
    for (const Curve& curve : kCurves) {
        for (const Move& move : kMoves) {
            SCOPED_TRACE(curve.name);
            EXPECT_EQ(curve.ease(0.0f, move.b, move.c, move.d), move.b);
            EXPECT_EQ(curve.ease(1.0f, move.b, move.c, move.d), move.b + move.c);
        }
    }
}

TEST(Easing, ElasticCurvesSnapWithinEpsilonOfTheEnds)
{
    const EaseFunction elastic[] = { easeElasticIn, easeElasticOut, easeElasticInOut };
    for (const EaseFunction ease : elastic) {
        for (const f32 t : { 0x1p-24f, kEpsilon, -0x1p-24f })
            EXPECT_EQ(ease(t, 3.0f, -5.0f, 0.5f), 3.0f) << t;
        for (const f32 t : { 1.0f - 0x1p-24f, 1.0f - kEpsilon, 1.0f + kEpsilon })
            EXPECT_EQ(ease(t, 3.0f, -5.0f, 0.5f), -2.0f) << t;
        // One step further out the formula runs and the value is off the end.
        EXPECT_NE(ease(1.0f - 0x1p-22f, 3.0f, -5.0f, 0.5f), -2.0f);
    }
}

TEST(Easing, BackCurvesOvershoot)
{
    EXPECT_LT(easeBackIn(0.3f, 0.0f, 1.0f, 1.0f), 0.0f);
    EXPECT_GT(easeBackOut(0.7f, 0.0f, 1.0f, 1.0f), 1.0f);
    EXPECT_LT(easeBackInOut(0.15f, 0.0f, 1.0f, 1.0f), 0.0f);
    EXPECT_GT(easeBackInOut(0.85f, 0.0f, 1.0f, 1.0f), 1.0f);
    EXPECT_EQ(easeBackInOut(0.5f, 2.0f, 4.0f, 1.0f), 4.0f);
}

// The elastic curves do not depend on the duration, so a zero one gives the
// curve of any other instead of 0 / 0. Run with the game's floating-point
// traps; exits 0 when the values match and nothing trapped.
void elasticWithZeroDurationUnderTraps()
{
    quern::platform::enableFloatingPointTraps();
    bool same = true;
    for (const f32 t : { 0.2f, 0.5f, 0.8f }) {
        same = same && easeElasticIn(t, 1.0f, 2.0f, 0.0f) == easeElasticIn(t, 1.0f, 2.0f, 1.0f);
        same = same && easeElasticOut(t, 1.0f, 2.0f, 0.0f) == easeElasticOut(t, 1.0f, 2.0f, 1.0f);
        same = same && easeElasticInOut(t, 1.0f, 2.0f, -0.0f) == easeElasticInOut(t, 1.0f, 2.0f, 1.0f);
    }
    quern::platform::maskFloatingPointTraps();
    std::exit(same ? 0 : 1);
}

TEST(EasingDeathTest, ElasticCurvesTakeAZeroDurationUnderFloatingPointTraps)
{
    EXPECT_EXIT(elasticWithZeroDurationUnderTraps(), ::testing::ExitedWithCode(0), "");
}

// A busy record moving *target to *end over `duration` seconds.
Tween tweenOf(f32* target, const f32* end, EaseFunction ease, f32 duration)
{
    return Tween { target, end, ease, nullptr, nullptr, -999.0f, 0.0f, duration, 0.0f };
}

TEST(UpdateTweens, StartIsTakenOnTheFirstUpdateOnly)
{
    f32 value = 10.0f;
    const f32 end = 20.0f;
    Tween tween = tweenOf(&value, &end, easeLinear, 1.0f);

    updateTweens(0.25f, &tween, &tween + 1);
    EXPECT_EQ(tween.start, 10.0f);
    EXPECT_EQ(value, 12.5f);

    // Whatever else writes the value meanwhile, the curve keeps its start.
    value = 100.0f;
    updateTweens(0.25f, &tween, &tween + 1);
    EXPECT_EQ(tween.start, 10.0f);
    EXPECT_EQ(value, 15.0f);
    EXPECT_EQ(tween.elapsed, 0.5f);
}

TEST(UpdateTweens, MovingEndIsMetExactly)
{
    for (const EaseFunction ease : { easeLinear, easeElasticOut, easeBackInOut }) {
        f32 value = 0.0f;
        f32 end = 5.0f;
        Tween tween = tweenOf(&value, &end, ease, 0.5f);
        int frames = 0;
        while (tween.target && frames < 100) {
            updateTweens(0.1f, &tween, &tween + 1);
            end += 0.37f;
            ++frames;
        }
        ASSERT_EQ(tween.target, nullptr);
        EXPECT_EQ(value, end - 0.37f);
        EXPECT_GE(frames, 5);
        EXPECT_LE(frames, 6);
    }
}

struct Completions {
    int calls = 0;
    void* firstArgument = &calls;
    void* userData = nullptr;
};

void countCompletion(void* unused, void* userData)
{
    Completions& completions = *static_cast<Completions*>(userData);
    ++completions.calls;
    completions.firstArgument = unused;
    completions.userData = userData;
}

TEST(UpdateTweens, CompletionCallsBackOnceAndFreesTheRecord)
{
    f32 value = 1.0f;
    Completions completions;
    Tween tween = tweenOf(&value, nullptr, easeElasticIn, 0.1f);
    tween.end = &tween.fixedEnd;
    tween.fixedEnd = 0.0f;
    tween.onComplete = countCompletion;
    tween.userData = &completions;

    updateTweens(0.05f, &tween, &tween + 1);
    EXPECT_EQ(completions.calls, 0);
    updateTweens(0.05f, &tween, &tween + 1);
    EXPECT_EQ(completions.calls, 1);
    EXPECT_EQ(completions.firstArgument, nullptr);
    EXPECT_EQ(completions.userData, &completions);
    EXPECT_EQ(tween.target, nullptr);
    EXPECT_EQ(value, 0.0f);

    value = 7.0f;
    updateTweens(0.05f, &tween, &tween + 1);
    EXPECT_EQ(completions.calls, 1);
    EXPECT_EQ(value, 7.0f);
}

TEST(UpdateTweens, ZeroDurationCompletesOnTheFirstUpdate)
{
    f32 value = 1.0f;
    const f32 end = 4.0f;
    Tween tween = tweenOf(&value, &end, easeElasticInOut, 0.0f);
    updateTweens(0.0f, &tween, &tween + 1);
    EXPECT_EQ(tween.target, nullptr);
    EXPECT_EQ(value, 4.0f);
}

TEST(UpdateTweens, FreeRecordsAreSkipped)
{
    f32 first = 0.0f;
    f32 last = 0.0f;
    const f32 end = 1.0f;
    Tween tweens[3] = {
        tweenOf(&first, &end, easeLinear, 1.0f),
        // Free: nothing in it may be read or written.
        Tween { nullptr, nullptr, nullptr, countCompletion, nullptr, 0.0f, 0.0f, 0.0f, 0.25f },
        tweenOf(&last, &end, easeLinear, 1.0f),
    };
    updateTweens(0.5f, tweens, tweens + 3);
    EXPECT_EQ(first, 0.5f);
    EXPECT_EQ(last, 0.5f);
    EXPECT_EQ(tweens[1].elapsed, 0.25f);
}

// The completion of one tween sets up the next: a pop after a flight.
struct Chain {
    Tween* records;
    f32* value;
    f32 nextEnd;
    int reuseIndex;
};

void startNextTween(void*, void* userData)
{
    Chain& chain = *static_cast<Chain*>(userData);
    Tween& next = chain.records[chain.reuseIndex];
    next = tweenOf(chain.value, nullptr, easeBackOut, 1.0f);
    next.end = &next.fixedEnd;
    next.fixedEnd = chain.nextEnd;
}

TEST(UpdateTweens, CompletionMayRearmItsOwnRecord)
{
    f32 value = 0.0f;
    Tween tween = tweenOf(&value, nullptr, easeLinear, 0.1f);
    tween.end = &tween.fixedEnd;
    tween.fixedEnd = 2.0f;
    Chain chain { &tween, &value, 6.0f, 0 };
    tween.onComplete = startNextTween;
    tween.userData = &chain;

    updateTweens(0.1f, &tween, &tween + 1);
    EXPECT_EQ(value, 2.0f);
    ASSERT_EQ(tween.target, &value);
    EXPECT_EQ(tween.fixedEnd, 6.0f);

    updateTweens(1.0f, &tween, &tween + 1);
    EXPECT_EQ(value, 6.0f);
    EXPECT_EQ(tween.target, nullptr);
}

TEST(UpdateTweens, RecordSetUpBehindTheWalkWaitsForTheNextUpdate)
{
    f32 value = 0.0f;
    Tween tweens[2] = { tweenOf(&value, nullptr, easeLinear, 0.1f), Tween {} };
    tweens[0].end = &tweens[0].fixedEnd;
    tweens[0].fixedEnd = 2.0f;
    Chain chain { tweens, &value, 6.0f, 1 };
    tweens[0].onComplete = startNextTween;
    tweens[0].userData = &chain;

    // The walk covers only the first record: the appended one is not advanced.
    updateTweens(0.1f, tweens, tweens + 1);
    EXPECT_EQ(value, 2.0f);
    EXPECT_EQ(tweens[1].elapsed, 0.0f);

    updateTweens(0.5f, tweens, tweens + 2);
    EXPECT_EQ(tweens[1].start, 2.0f);
    EXPECT_EQ(value, easeBackOut(0.5f, 2.0f, 4.0f, 1.0f));
}

} // namespace
} // namespace harmonize

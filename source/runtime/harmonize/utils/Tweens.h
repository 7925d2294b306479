#pragma once
// Eased animation of single float values: Penner's easing curves and the
// records that move a value from where it stands towards an end over a
// duration. The HUD's collectible counters fly and pop their icons with them.

#include "quern/Types.h"

namespace harmonize {

using quern::f32;

// t the normalised time 0 to 1, b the start value, c the change (end - start),
// d the duration in seconds. Each curve gives b at t = 0 and b + c at t = 1.
using EaseFunction = f32 (*)(f32 t, f32 b, f32 c, f32 d);

// Called once when a tween completes; the first argument is always null.
using TweenCallback = void (*)(void* unused, void* userData);

struct Tween {
    f32* target; // null: the record is free
    const f32* end; // read every frame, so the end may move while the tween runs
    EaseFunction ease;
    TweenCallback onComplete; // or null
    void* userData;
    f32 start; // taken from the target on the first update
    f32 fixedEnd; // where `end` points when the end stays put
    f32 duration; // seconds
    f32 elapsed; // seconds; 0 until the first update
};

f32 easeLinear(f32 t, f32 b, f32 c, f32 d);
// The elastic curves snap to b and b + c when t is within single-precision
// epsilon of 0 and 1. Their shape does not depend on d; a zero d is taken as 1.
f32 easeElasticIn(f32 t, f32 b, f32 c, f32 d);
f32 easeElasticOut(f32 t, f32 b, f32 c, f32 d);
f32 easeElasticInOut(f32 t, f32 b, f32 c, f32 d);
// The back curves overshoot by about 10% before (In) or after (Out) the move.
f32 easeBackIn(f32 t, f32 b, f32 c, f32 d);
f32 easeBackOut(f32 t, f32 b, f32 c, f32 d);
f32 easeBackInOut(f32 t, f32 b, f32 c, f32 d);

// Advances every busy record in [first, end) by dt seconds, in order. A record
// that reaches its duration sets its target exactly to the end value, is freed
// and then calls its completion callback, which may set up new tweens in any
// free record, its own included. Records appended during the walk wait for the
// next call.
void updateTweens(f32 dt, Tween* first, Tween* end);

} // namespace harmonize

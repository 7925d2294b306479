#pragma once
// Bullet's own arrays and pools allocate through one process-wide hook. It is
// pointed once at the engine's general heap, which any thread may use and
// which outlives every level; level heaps hold only the objects the collision
// system builds itself.

namespace harmonize {

// Idempotent and thread-safe; call before the first Bullet object is made.
void installBulletAllocation();

} // namespace harmonize

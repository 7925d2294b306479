#pragma once
// How the collision system makes and frees its Bullet objects in a level
// heap, and the floating-point section Bullet's touchy paths run in.

#include "harmonize/Settings.h"

#include "quern/math/Vector3.h"
#include "quern/memory/Allocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/platform/FloatingPointTraps.h"

#include <LinearMath/btVector3.h>

#include <algorithm>
#include <new>
#include <optional>
#include <utility>

namespace harmonize {

inline btVector3 toBullet(const quern::math::Vector3& v) { return btVector3(v.x, v.y, v.z); }
inline quern::math::Vector3 fromBullet(const btVector3& v) { return { v.x(), v.y(), v.z() }; }

// Bullet's vector types want 16-byte alignment.
template <class T, class... Args> T* makeIn(quern::memory::Allocator& allocator, Args&&... args)
{
    void* place = allocator.allocate(sizeof(T), std::max<quern::u64>(alignof(T), 16));
    if (!place)
        QUERN_OUT_OF_MEMORY();
    return new (place) T(std::forward<Args>(args)...);
}

// `object` must be the address makeIn returned (its most derived type's, or a
// base at offset 0 with a virtual destructor).
template <class T> void destroyIn(quern::memory::Allocator& allocator, T* object)
{
    if (!object)
        return;
    object->~T();
    allocator.free(object);
}

// Where the game traps floating-point faults (test runs, or on request),
// Bullet's box-shape set-up, world stop and rays raise some that are harmless
// there: they run masked, and the traps come back afterwards.
class UntrappedWhileTesting {
public:
    UntrappedWhileTesting()
    {
        if (Settings::Test.test || Settings::Development.floatExceptions)
            m_scope.emplace();
    }

private:
    std::optional<quern::platform::UntrappedFloatingPointScope> m_scope;
};

// Bullet's solver squares tiny contact residuals into denormals and goes on
// computing with them (bodies that never sleep, like particles at rest on a
// floor, get there): where the game traps floating-point faults, the physics
// step lets denormal operands through and still stops at the others.
class DenormalsUntrappedWhileTesting {
public:
    DenormalsUntrappedWhileTesting()
    {
        if (Settings::Test.test || Settings::Development.floatExceptions)
            m_scope.emplace();
    }

private:
    std::optional<quern::platform::DenormalOperandsUntrappedScope> m_scope;
};

} // namespace harmonize

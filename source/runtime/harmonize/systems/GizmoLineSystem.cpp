#include "harmonize/systems/GizmoLineSystem.h"

#include "harmonize/Settings.h"
#include "harmonize/systems/AppContext.h"

#include "quern/entity/World.h"
#include "quern/platform/AssertDebug.h"
#include "quern/render/Gizmos.h"

#include <cmath>

namespace harmonize {

GizmoLineSystem::GizmoLineSystem(AppContext& context)
    : m_context(&context)
{
}

void GizmoLineSystem::addLine(const quern::math::Vector3& from, const quern::math::Vector3& to, quern::i32 colour)
{
    if (!Settings::Development.gizmos)
        return;
    // The pass indexes its palette with the colour unchecked.
    const bool inPalette = colour >= 0 && colour < static_cast<quern::i32>(quern::render::Gizmos::PaletteSize);
    QUERN_ASSERT(quern::debug::kAssertWarning, inPalette, "Gizmo line colour outside the palette");
    if (!inPalette)
        return;
    lines.append(GizmoLineRecord { from, to, colour, 0.0f });
}

void GizmoLineSystem::drawRect(quern::f32 x, quern::f32 y, quern::f32 halfWidth, quern::f32 halfHeight, quern::i32 colour)
{
    const quern::math::Vector3 bottomLeft { x - halfWidth, y - halfHeight, 0.0f };
    const quern::math::Vector3 topLeft { x - halfWidth, y + halfHeight, 0.0f };
    const quern::math::Vector3 bottomRight { x + halfWidth, y - halfHeight, 0.0f };
    const quern::math::Vector3 topRight { x + halfWidth, y + halfHeight, 0.0f };
    addLine(bottomLeft, topLeft, colour);
    addLine(bottomLeft, bottomRight, colour);
    addLine(bottomRight, topRight, colour);
    addLine(topLeft, topRight, colour);
}

namespace {
// Markers share one colour of the palette.
constexpr quern::i32 kMarkerColour = 2;
constexpr quern::f32 kCrossHalf = 2.5f;
constexpr quern::u32 kCircleSegments = 32;
} // namespace

void GizmoLineSystem::drawCross(const quern::math::Vector3& p)
{
    addLine({ p.x - kCrossHalf, p.y - kCrossHalf, p.z }, { p.x + kCrossHalf, p.y + kCrossHalf, p.z }, kMarkerColour);
    addLine({ p.x + kCrossHalf, p.y - kCrossHalf, p.z }, { p.x - kCrossHalf, p.y + kCrossHalf, p.z }, kMarkerColour);
}

void GizmoLineSystem::drawCircle(const quern::math::Vector3& c, quern::f32 radius)
{
    if (!Settings::Development.gizmos)
        return;
    const quern::f32 step = 2.0f * static_cast<quern::f32>(M_PI) / static_cast<quern::f32>(kCircleSegments);
    quern::math::Vector3 previous { c.x + radius, c.y, c.z };
    for (quern::u32 k = 1; k <= kCircleSegments; ++k) {
        const quern::f32 angle = step * static_cast<quern::f32>(k);
        const quern::math::Vector3 next { c.x + radius * std::cos(angle), c.y + radius * std::sin(angle), c.z };
        addLine(previous, next, kMarkerColour);
        previous = next;
    }
}

void GizmoLineSystem::update(quern::entity::UpdateContext*, quern::entity::World& world)
{
    if (!Settings::Development.gizmos)
        return;
    auto* gizmos = m_context->gizmos.get<quern::render::Gizmos>();
    // Lifetimes count in fixed steps, whatever the frame's own delta.
    const quern::f32 step = static_cast<quern::f32>(world.clock.step) / 1'000'000.0f;
    quern::u64 kept = 0;
    for (quern::u64 i = 0; i < lines.count(); ++i) {
        GizmoLineRecord record = lines.at<GizmoLineRecord>(i);
        if (gizmos)
            gizmos->drawLine(record.from, record.to, static_cast<quern::u32>(record.colour));
        record.lifetime -= step;
        if (record.lifetime > 0.0f)
            lines.at<GizmoLineRecord>(kept++) = record;
    }
    lines.expand(kept);
}

} // namespace harmonize

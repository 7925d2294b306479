#pragma once
// Debug lines that gameplay code adds while it works (snap paths, axes,
// targets). Each line is a record with a remaining lifetime; every update
// hands the records to the world's gizmo pass and ages them. Nothing is added,
// drawn or aged while the Development setting "gizmos" is off.

#include "quern/containers/Array.h"
#include "quern/entity/System.h"
#include "quern/math/Vector3.h"

namespace harmonize {

struct AppContext;

struct GizmoLineRecord {
    quern::math::Vector3 from;
    quern::math::Vector3 to;
    quern::i32 colour; // an index into the gizmo pass's palette
    quern::f32 lifetime; // seconds still to draw after the next update
};

class GizmoLineSystem final : public quern::entity::System {
public:
    explicit GizmoLineSystem(AppContext& context);

    // A line drawn in the next update only.
    void addLine(const quern::math::Vector3& from, const quern::math::Vector3& to, quern::i32 colour);
    // The rectangle [x - halfWidth, x + halfWidth] x [y - halfHeight, y + halfHeight]
    // at z = 0: its left, bottom, right and top edges.
    void drawRect(quern::f32 x, quern::f32 y, quern::f32 halfWidth, quern::f32 halfHeight, quern::i32 colour);
    // An X of the two diagonals of a 5 x 5 square centred on `point`, at its z.
    void drawCross(const quern::math::Vector3& point);
    // A circle of 32 segments round `centre` in its z plane.
    void drawCircle(const quern::math::Vector3& centre, quern::f32 radius);

    void update(quern::entity::UpdateContext* context, quern::entity::World& world) override;

    // GizmoLineRecord, in the order they were added.
    quern::containers::Array lines { sizeof(GizmoLineRecord), alignof(GizmoLineRecord) };

private:
    AppContext* m_context;
};

} // namespace harmonize

#include "quern/visuals/BatchVisual.h"

#include "quern/graphics/Font.h"
#include "quern/graphics/IndexBuffer.h"
#include "quern/graphics/VertexBuffer.h"
#include "quern/graphics/materials/UnlitMaterial.h"
#include "quern/visuals/SubMesh.h"
#include "quern/visuals/TextLayout.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace quern::visuals {

namespace {

using graphics::BatchVertex;
using Lock = containers::BufferBase::Lock;

constexpr u32 kDynamicDraw = graphics::BufferUsage::Dynamic | graphics::BufferUsage::Draw;
constexpr u32 kStaticDraw = graphics::BufferUsage::Static | graphics::BufferUsage::Draw;
constexpr int kOutlinePoints = 36;

struct Point {
    f32 x, y;
};

// The outward normal of an edge of a counter-clockwise polygon; a degenerate
// edge keeps its tiny unnormalised normal rather than dividing by zero.
Point edgeNormal(Point from, Point to)
{
    const f32 dx = to.x - from.x, dy = to.y - from.y;
    const f32 length = std::sqrt(dx * dx + dy * dy);
    if (length < 1.1920929e-7f)
        return { dy, -dx };
    return { dy / length, -dx / length };
}

} // namespace

PrimitiveBatch::PrimitiveBatch()
    : current(sizeof(BatchVertex), 4)
    , previous(sizeof(BatchVertex), 4)
{
}

void PrimitiveBatch::addVertex(f32 x, f32 y, f32 z, f32 r, f32 g, f32 b, f32 a, f32 u, f32 v)
{
    BatchVertex vertex { x, y, z, {}, u, v };
    graphics::packColour(vertex.colour, r, g, b, a);
    current.append(vertex);
}

void PrimitiveBatch::addVertex(const BatchVertex& vertex) { current.append(vertex); }

void PrimitiveBatch::swapBuffers()
{
    std::swap(current, previous);
    current.clear();
}

void PrimitiveBatch::addClosedOutline(const f32 points[36][2], f32 z, f32 width, const f32 colour[4])
{
    Point p[kOutlinePoints], q[kOutlinePoints], normals[kOutlinePoints];
    for (int k = 0; k < kOutlinePoints; ++k)
        p[k] = { points[k][0], points[k][1] };
    for (int k = 0; k < kOutlinePoints; ++k)
        normals[k] = edgeNormal(p[k], p[(k + 1) % kOutlinePoints]);
    for (int k = 0; k < kOutlinePoints; ++k) {
        const Point before = normals[(k + kOutlinePoints - 1) % kOutlinePoints];
        const Point after = normals[k];
        Point m { (before.x + after.x) * 0.5f, (before.y + after.y) * 0.5f };
        const f32 lengthSquared = m.x * m.x + m.y * m.y;
        if (lengthSquared > 1e-6f) {
            // The miter: 1/|m|^2 reaches the band's outer edge at a corner,
            // limited so that sharp corners do not spike.
            const f32 f = std::min(1.0f / lengthSquared, 10.0f);
            m = { m.x * f, m.y * f };
        }
        q[k] = { p[k].x + m.x * width, p[k].y + m.y * width };
    }
    BatchVertex vertex { 0, 0, z, {}, 0, 0 };
    graphics::packColour(vertex.colour, colour[0], colour[1], colour[2], colour[3]);
    auto add = [&](Point at) {
        vertex.x = at.x;
        vertex.y = at.y;
        current.append(vertex);
    };
    for (int k = 0; k < kOutlinePoints; ++k) {
        const int before = (k + kOutlinePoints - 1) % kOutlinePoints;
        add(p[k]);
        add(p[before]);
        add(q[before]);
        add(q[before]);
        add(q[k]);
        add(p[k]);
    }
    for (int j = 0; j + 2 < kOutlinePoints; ++j) {
        add(p[0]);
        add(p[j + 1]);
        add(p[j + 2]);
    }
}

void PrimitiveBatch::addText(const char* text, f32 x, f32 y, f32 z, const f32 colour[4], i32 alignment)
{
    const u64 n = countCodePoints(text);
    std::vector<f32> glyphVertices(n * 4 * kTextVertexFloats);
    std::vector<u16> glyphIndices(n * 6);
    const i32 align = alignment == 0 ? AlignCentre : alignment == 2 ? AlignRight : AlignLeft;
    const graphics::Font& font = *graphics::Font::getDefault();
    SpriteBatchGlyphSink sink;
    sink.font = &font;
    sink.pixelSize = 15;
    layoutText(
        font, text, 15.0f, align, static_cast<TextAnchor>(6 + align), glyphVertices.data(), glyphIndices.data(), sink);
    BatchVertex vertex { 0, 0, z, {}, 0, 0 };
    graphics::packColour(vertex.colour, colour[0], colour[1], colour[2], colour[3]);
    for (u16 index : glyphIndices) {
        const f32* glyph = glyphVertices.data() + index * kTextVertexFloats;
        vertex.x = x + glyph[0];
        vertex.y = y + glyph[1];
        vertex.u = glyph[3];
        vertex.v = glyph[4];
        current.append(vertex);
    }
}

BatchVisual::BatchVisual()
    : m_batchMaterial(new graphics::UnlitMaterial())
    , m_textMaterial(new graphics::UnlitMaterial())
{
}

BatchVisual::BatchVisual(const BatchVisual& other)
    : Visual(other)
    , m_batchMaterial(other.batchMaterial()->clone())
    , m_textMaterial(other.textMaterial()->clone())
{
    for (u64 i = 0; i < other.batchCount(); ++i)
        addBatch(other.batch(i)->subMesh->indexBuffer()->primitiveType());
}

BatchVisual::~BatchVisual()
{
    for (u64 i = 0; i < batchCount(); ++i)
        delete batch(i);
    m_batches.release();
    m_batchMaterial.reset();
    if (graphics::UnlitMaterial* text = textMaterial())
        text->setTexture(nullptr);
    m_textMaterial.reset();
}

graphics::UnlitMaterial* BatchVisual::batchMaterial() const { return m_batchMaterial.get<graphics::UnlitMaterial>(); }

graphics::UnlitMaterial* BatchVisual::textMaterial() const { return m_textMaterial.get<graphics::UnlitMaterial>(); }

Visual* BatchVisual::clone() const { return new BatchVisual(*this); }

PrimitiveBatch* BatchVisual::addBatch(graphics::PrimitiveType type)
{
    PrimitiveBatch* batch = new PrimitiveBatch();
    batch->subMesh = addSubMesh(batchMaterial());
    batch->subMesh->getIndexBuffer()->setPrimitiveType(type);
    m_batches.append(batch);
    return batch;
}

PrimitiveBatch* BatchVisual::getBatch(graphics::PrimitiveType type)
{
    PrimitiveBatch*& slot = type == graphics::PrimitiveType::LineList ? m_lineBatch : m_triangleBatch;
    if (!slot)
        slot = addBatch(type);
    return slot;
}

PrimitiveBatch* BatchVisual::getTextBatch()
{
    if (m_textBatch)
        return m_textBatch;
    m_textBatch = addBatch(graphics::PrimitiveType::TriangleList);
    graphics::UnlitMaterial* text = textMaterial();
    m_textBatch->subMesh->setMaterial(text);
    if (!text->texture()) {
        text->setTexture(graphics::Font::getDefault()->texture);
        text->setDirty();
    }
    return m_textBatch;
}

void BatchVisual::flush()
{
    for (u64 i = 0; i < batchCount(); ++i)
        batch(i)->swapBuffers();
}

void BatchVisual::buildGeometry()
{
    getVertexBuffer(kDynamicDraw)->setVertexFormat(graphics::VertexFormat::fromFlags(graphics::kBatchVertexFlags));
}

void BatchVisual::refreshGeometry()
{
    u64 total = 0;
    for (u64 i = 0; i < batchCount(); ++i)
        total += batch(i)->previous.count();
    graphics::VertexBuffer* vb = getVertexBuffer(kStaticDraw);
    if (vb->vertexCount() < total) {
        vb->setSize(0);
        vb->resizeElements(total);
    }
    u8* out = total ? vb->lockVertices(Lock::Write, 0, total) : nullptr;
    u64 first = 0;
    for (u64 i = 0; i < batchCount(); ++i) {
        PrimitiveBatch& b = *batch(i);
        const u64 count = b.previous.count();
        if (count)
            std::memcpy(out + first * sizeof(BatchVertex), b.previous.data(), count * sizeof(BatchVertex));
        graphics::IndexBuffer* ib = b.subMesh->indexBuffer();
        if (ib->start() != first || ib->count() != static_cast<i32>(count)) {
            ib->setDrawRange(static_cast<u32>(first), static_cast<i32>(count));
            ib->notifyListeners();
        }
        first += count;
    }
    if (out)
        vb->unlockVertices();
}

f32 BatchVisual::getBoundingSphere(math::Vector3& centre)
{
    centre = math::kZeroVector;
    return 20000.0f;
}

void BatchVisual::getBoundingBox(math::Vector3& centre, math::Vector3& halfExtents)
{
    centre = math::kZeroVector;
    halfExtents = { 10000.0f, 10000.0f, 10000.0f };
}

} // namespace quern::visuals

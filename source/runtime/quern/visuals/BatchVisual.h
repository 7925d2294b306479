#pragma once
// An immediate-mode visual: code appends vertices to primitive batches during
// a frame and the visual draws, after the next flush, what was appended in the
// frame before. Each batch is one sub-mesh of one primitive type, drawn
// without indices over its own range of the shared vertex buffer; the empty
// index buffer only carries the range and the type.

#include "quern/containers/Array.h"
#include "quern/graphics/BatchVertex.h"
#include "quern/graphics/PrimitiveType.h"
#include "quern/visuals/Visual.h"

namespace quern::graphics {
class UnlitMaterial;
}

namespace quern::visuals {

class PrimitiveBatch {
public:
    PrimitiveBatch();

    void addVertex(f32 x, f32 y, f32 z, f32 r, f32 g, f32 b, f32 a, f32 u, f32 v);
    // Takes a vertex whose colour is already packed.
    void addVertex(const graphics::BatchVertex& vertex);
    // Ends the batch's frame: the current vertices become the ones to draw and
    // the current array starts empty again, keeping its storage.
    void swapBuffers();
    // A band of `width` outside the polygon of 36 counter-clockwise points,
    // with the polygon filled, as 318 triangle-list vertices at depth z.
    void addClosedOutline(const f32 points[36][2], f32 z, f32 width, const f32 colour[4]);
    // The text in the default font at 15 pixels as a triangle list, its
    // bottom row on (x, y): alignment 0 centres it there, 2 ends it there,
    // anything else starts it there. Goes to the text batch.
    void addText(const char* text, f32 x, f32 y, f32 z, const f32 colour[4], i32 alignment);

    SubMesh* subMesh = nullptr; // owned by the visual
    containers::Array current; // BatchVertex, appended during the frame
    containers::Array previous; // BatchVertex, what the last flush took
};

class BatchVisual : public Visual {
public:
    BatchVisual();
    ~BatchVisual() override;

    // Always a new batch of that type, appended to the batch list.
    PrimitiveBatch* addBatch(graphics::PrimitiveType type);
    // The cached line (LineList) or triangle (TriangleList) batch, made on first use.
    PrimitiveBatch* getBatch(graphics::PrimitiveType type);
    // The triangle batch drawn with the default font's page.
    PrimitiveBatch* getTextBatch();
    // swapBuffers of every batch. The owner then sets ContentsChanged and
    // calls notifyChanged so that the next update uploads.
    void flush();

    void buildGeometry() override;
    // Copies every batch's previous vertices into the buffer and sets each
    // batch's draw range.
    void refreshGeometry() override;
    // Large fixed bounds: immediate geometry must never be culled.
    f32 getBoundingSphere(math::Vector3& centre) override;
    void getBoundingBox(math::Vector3& centre, math::Vector3& halfExtents) override;
    bool getAuxiliaryFlag() override { return false; }
    // Copies of both materials and an empty batch of each type.
    Visual* clone() const override;

    u64 batchCount() const { return m_batches.count(); }
    PrimitiveBatch* batch(u64 index) const { return m_batches.at<PrimitiveBatch*>(index); }
    graphics::UnlitMaterial* batchMaterial() const;
    graphics::UnlitMaterial* textMaterial() const;

protected:
    BatchVisual(const BatchVisual& other);

private:
    containers::Array m_batches { sizeof(PrimitiveBatch*), alignof(PrimitiveBatch*) };
    PrimitiveBatch* m_lineBatch = nullptr;
    PrimitiveBatch* m_textBatch = nullptr;
    PrimitiveBatch* m_triangleBatch = nullptr;
    Ref m_batchMaterial;
    Ref m_textMaterial;
};

} // namespace quern::visuals

#pragma once
// Uniforms: the named parameters of a shader program. A material puts them in
// the uniform lists of its pass; the graphics device uploads their values per
// draw. One uniform object may serve several programs (a shared shadow
// matrix, a skinning palette), so the OpenGL device keeps locations per
// program and uniform rather than in the uniform. Automatic uniforms have no stored value: they point
// into the draw's record (the model, view and projection matrices).

#include "quern/Types.h"
#include "quern/language/RefCounted.h"

#include <string>

namespace quern::render {
struct RenderJob;
}

namespace quern::graphics {

// How the device uploads a value.
enum class UniformType : i32 {
    Float = 0,        // one f32
    Int = 1,          // one i32
    Vector = 2,       // count f32, count 2, 3 or 4
    Matrix4 = 3,      // 16 f32, column-major
    FloatArray = 4,   // count f32
    Vector4Array = 5, // count / 4 vec4
    Matrix4Array = 6, // count / 16 matrices
    Sampler = 7,      // one i32, the texture unit
};

class Uniform : public RefCounted {
public:
    static constexpr u32 kStorageFloats = 16;
    // Values of location().
    static constexpr i32 kLocationUnknown = -1;
    static constexpr i32 kLocationAbsent = -2;

    // No name, a 4x4 identity matrix.
    Uniform();
    // Storage cleared; `count` 4-byte elements (at most 16).
    Uniform(std::string name, UniformType type, u32 count);
    Uniform(const Uniform&) = delete;
    Uniform& operator=(const Uniform&) = delete;

    // The value to upload for a draw; stored uniforms ignore the record.
    virtual const void* getValue(const render::RenderJob& job);

    // Copies `count` 4-byte elements into the inline storage and makes it the
    // value; more than 16 is fatal.
    void setValue(const void* data, u32 count);
    void setFloat(f32 value);
    void setInt(i32 value);
    // The value lives in the caller's memory, which must outlive its use
    // (the skinning palette, shared matrices).
    void setExternalValue(void* data, u32 count);

    const void* value() const { return m_value; }
    f32* storage() { return m_storage; }
    u32 count() const { return m_count; }
    const std::string& name() const { return m_name; }
    void setName(std::string name) { m_name = std::move(name); }
    UniformType type() const { return m_type; }
    void setType(UniformType type) { m_type = type; }
    // Written by the device: kLocationUnknown until looked up, kLocationAbsent
    // when the program has no such uniform.
    i32 location() const { return m_location; }
    void setLocation(i32 location) { m_location = location; }
    // Whether the value comes from the draw record.
    bool isPerDraw() const { return m_perDraw != 0; }

protected:
    void setPerDraw(bool perDraw) { m_perDraw = perDraw ? 1 : 0; }

private:
    void* m_value;
    u32 m_count;
    std::string m_name;
    UniformType m_type;
    i32 m_location = kLocationUnknown;
    u8 m_perDraw = 0;
    f32 m_storage[kStorageFloats];
};

// The draw's model matrix. With no matrix in the record the value is null.
class ModelMatrixUniform : public Uniform {
public:
    ModelMatrixUniform();
    const void* getValue(const render::RenderJob& job) override { return valueSource(job); }
    virtual const f32* valueSource(const render::RenderJob& job);
};

class ModelViewMatrixUniform : public ModelMatrixUniform {
public:
    ModelViewMatrixUniform();
    const f32* valueSource(const render::RenderJob& job) override;

protected:
    f32 m_buffer[16];
};

class ModelViewProjectionMatrixUniform : public ModelViewMatrixUniform {
public:
    ModelViewProjectionMatrixUniform();
    const f32* valueSource(const render::RenderJob& job) override;
};

class ViewMatrixUniform : public Uniform {
public:
    ViewMatrixUniform();
    const void* getValue(const render::RenderJob& job) override { return valueSource(job); }
    virtual const f32* valueSource(const render::RenderJob& job);
};

// The projection matrix of the draw's render context.
class ProjectionMatrixUniform : public ViewMatrixUniform {
public:
    ProjectionMatrixUniform();
    const f32* valueSource(const render::RenderJob& job) override;
};

// The model matrix without its translation (no inverse, no transpose).
class NormalMatrixUniform : public Uniform {
public:
    NormalMatrixUniform();
    const void* getValue(const render::RenderJob& job) override { return valueSource(job); }
    virtual const f32* valueSource(const render::RenderJob& job);

private:
    f32 m_buffer[16];
};

// A sampler: its value is the texture unit.
class TextureUniform : public Uniform {
public:
    TextureUniform(std::string name, i32 unit);

    i32 unit() const { return *static_cast<const i32*>(value()); }
    Ref& texture() { return m_texture; }

private:
    Ref m_texture;
};

} // namespace quern::graphics

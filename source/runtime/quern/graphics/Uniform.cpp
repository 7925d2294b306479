#include "quern/graphics/Uniform.h"

#include "quern/platform/ErrorReporting.h"
#include "quern/render/RenderContext.h"
#include "quern/render/RenderJob.h"

#include <cstring>

namespace quern::graphics {

namespace {

void setIdentity(f32 matrix[16])
{
    for (u32 i = 0; i < 16; ++i)
        matrix[i] = (i % 5 == 0) ? 1.0f : 0.0f;
}

const f32* elementsOf(const math::Matrix4* matrix) { return matrix ? matrix->m : nullptr; }

} // namespace

Uniform::Uniform() : m_value(m_storage), m_count(16), m_type(UniformType::Matrix4) { setIdentity(m_storage); }

Uniform::Uniform(std::string name, UniformType type, u32 count)
    : m_value(m_storage), m_count(count), m_name(std::move(name)), m_type(type), m_storage{}
{
    if (count > kStorageFloats)
        QUERN_FATAL("Uniform value too large for its storage");
}

const void* Uniform::getValue(const render::RenderJob&) { return m_value; }

void Uniform::setValue(const void* data, u32 count)
{
    if (count > kStorageFloats)
        QUERN_FATAL("Uniform value too large for its storage");
    std::memcpy(m_storage, data, count * sizeof(f32));
    m_value = m_storage;
    m_count = count;
}

void Uniform::setFloat(f32 value) { setValue(&value, 1); }

void Uniform::setInt(i32 value) { setValue(&value, 1); }

void Uniform::setExternalValue(void* data, u32 count)
{
    m_value = data;
    m_count = count;
}

ModelMatrixUniform::ModelMatrixUniform()
{
    setName("modelMatrix");
    setPerDraw(true);
}

const f32* ModelMatrixUniform::valueSource(const render::RenderJob& job) { return elementsOf(job.modelMatrix); }

ModelViewMatrixUniform::ModelViewMatrixUniform()
{
    setName("modelViewMatrix");
    setIdentity(m_buffer);
}

const f32* ModelViewMatrixUniform::valueSource(const render::RenderJob& job)
{
    return elementsOf(job.modelViewMatrix);
}

ModelViewProjectionMatrixUniform::ModelViewProjectionMatrixUniform() { setName("modelViewProjectionMatrix"); }

const f32* ModelViewProjectionMatrixUniform::valueSource(const render::RenderJob& job)
{
    return elementsOf(job.modelViewProjectionMatrix);
}

ViewMatrixUniform::ViewMatrixUniform()
{
    setName("viewMatrix");
    setPerDraw(true);
}

const f32* ViewMatrixUniform::valueSource(const render::RenderJob& job) { return elementsOf(job.viewMatrix); }

ProjectionMatrixUniform::ProjectionMatrixUniform() { setName("projectionMatrix"); }

const f32* ProjectionMatrixUniform::valueSource(const render::RenderJob& job)
{
    return job.context ? elementsOf(job.context->projectionMatrix) : nullptr;
}

NormalMatrixUniform::NormalMatrixUniform()
{
    setName("normalMatrix");
    setPerDraw(true);
    setIdentity(m_buffer);
}

const f32* NormalMatrixUniform::valueSource(const render::RenderJob& job)
{
    if (!job.modelMatrix)
        return nullptr;
    std::memcpy(m_buffer, job.modelMatrix->m, sizeof(m_buffer));
    m_buffer[12] = 0.0f;
    m_buffer[13] = 0.0f;
    m_buffer[14] = 0.0f;
    m_buffer[15] = 1.0f;
    return m_buffer;
}

TextureUniform::TextureUniform(std::string name, i32 unit) : Uniform(std::move(name), UniformType::Sampler, 1)
{
    setInt(unit);
}

} // namespace quern::graphics

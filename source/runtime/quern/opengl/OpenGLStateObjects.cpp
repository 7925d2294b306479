#include "quern/opengl/OpenGLStateObjects.h"
#include "quern/debug/Log.h"
#include "quern/graphics/GraphicsBackEnd.h"
#include "quern/graphics/Shader.h"
#include "quern/graphics/Uniform.h"
#include "quern/graphics/VertexFormat.h"
#include "quern/graphics/renderstate/AlphaBlendState.h"
#include "quern/graphics/renderstate/CullState.h"
#include "quern/graphics/renderstate/DepthBufferState.h"
#include "quern/graphics/renderstate/FillState.h"
#include "quern/platform/FloatingPointTraps.h"
#include "quern/graphics/renderstate/LogicalBlendState.h"
#include "quern/graphics/renderstate/ShaderProgramState.h"
#include "quern/graphics/renderstate/StencilBufferState.h"
#include "quern/graphics/renderstate/TextureState.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/opengl/GLFunctions.h"
#include "quern/opengl/GLSLShaderProgram.h"
#include "quern/opengl/OpenGLPixelBuffer.h"
#include "quern/opengl/renderstate/RenderStateTranslation.h"

namespace quern::render {
struct RenderJob;
}
#include "quern/platform/ErrorReporting.h"
#include "quern/strings/PackedName.h"
#include <cstring>

namespace quern::opengl {

namespace {

template <class State> const State* stateOf(const graphics::Shader* shader)
{
    return shader ? static_cast<const State*>(shader->renderState(State::kKind)) : nullptr;
}

u32 shaderNameOf(const graphics::ShaderProgram* program)
{
    return program ? static_cast<const GLSLShaderProgram*>(program)->shaderName() : 0;
}

void enable(u32 capability, bool on)
{
    if (on)
        glEnable(capability);
    else
        glDisable(capability);
}

// Enables or disables only when the switch changes.
void toggle(u32 capability, bool on, bool was)
{
    if (on != was)
        enable(capability, on);
}

void applyFill(const OpenGLStateObject& next)
{
    glPolygonMode(GL_FRONT_AND_BACK, next.polygonMode);
    enable(GL_LINE_SMOOTH, next.lineSmoothing);
    glLineWidth(next.lineWidth);
    glColorMask(next.colourMask[0], next.colourMask[1], next.colourMask[2], next.colourMask[3]);
}

} // namespace

OpenGLStateObjects::OpenGLStateObjects(const graphics::DisplayCaps& caps)
    : m_caps(caps)
{
}

OpenGLStateObjects::~OpenGLStateObjects() = default;

void OpenGLStateObjects::init(u64 capacity)
{
    m_table = std::make_unique<containers::HandleTable>(sizeof(OpenGLStateObject), alignof(OpenGLStateObject));
    (void)capacity;
    unbind();
    m_initialised = true;
}

void OpenGLStateObjects::shutdown()
{
    m_initialised = false;
    m_table.reset();
    for (const LinkedProgram& entry : m_programs) {
        if (entry.program)
            glDeleteProgram(entry.program);
    }
    m_programs.clear();
    m_programs.shrink_to_fit();
    m_uniformLocations.clear();
    m_sentValues.clear();
    m_current = 0;
}

OpenGLStateObject& OpenGLStateObjects::record(u32 handle)
{
    return *static_cast<OpenGLStateObject*>(m_table->entryAt(containers::HandleTable::indexOf(handle)));
}

u32 OpenGLStateObjects::allocate()
{
    u32 handle = 0;
    auto* object = m_table->allocate<OpenGLStateObject>(handle);
    // A reused slot keeps its old values until it is created.
    object->program = 0;
    return handle;
}

void OpenGLStateObjects::destroy(u32 handle)
{
    if (!m_initialised)
        return;
    if (handle == m_current)
        m_current = 0;
    OpenGLStateObject& object = record(handle);
    if (object.program != 0)
        release(object.program);
    object.program = 0;
    m_table->release(handle);
}

void OpenGLStateObjects::create(u32 handle, graphics::Shader* shader, const graphics::VertexFormat* format)
{
    if (handle == m_current)
        m_current = 0;
    OpenGLStateObject& object = record(handle);
    translateAlphaBlend(stateOf<graphics::AlphaBlendState>(shader), object);
    translateCull(stateOf<graphics::CullState>(shader), object);
    translateDepthBuffer(stateOf<graphics::DepthBufferState>(shader), object);
    translateFill(stateOf<graphics::FillState>(shader), object);
    translateLogicalBlend(stateOf<graphics::LogicalBlendState>(shader), object);
    translateStencilBuffer(stateOf<graphics::StencilBufferState>(shader), object);
    translateTextureState(stateOf<graphics::TextureState>(shader), m_caps, object);

    if (object.program != 0) {
        release(object.program);
        object.program = 0;
    }
    object.program = getOrLink(stateOf<graphics::ShaderProgramState>(shader)).program;

    object.attributeCount = format ? format->count : 0;
    for (u64 i = 0; i < object.attributeCount; ++i) {
        char name[16];
        unpackNameToBuffer(format->attributes[i].id, name, sizeof name);
        object.attributeLocations[i] = glGetAttribLocation(object.program, name);
    }
}

const LinkedProgram& OpenGLStateObjects::getOrLink(const graphics::ShaderProgramState* state)
{
    u32 key[4] = {};
    u64 length = 0;
    if (state) {
        for (const graphics::ShaderProgram* program : { state->vertexProgram(), state->fragmentProgram() }) {
            if (program)
                key[length++] = shaderNameOf(program);
        }
    }
    for (LinkedProgram& entry : m_programs) {
        if (entry.keyLength == length && std::memcmp(entry.key, key, length * sizeof(u32)) == 0) {
            ++entry.references;
            return entry;
        }
    }
    LinkedProgram* entry = nullptr;
    for (LinkedProgram& candidate : m_programs) {
        if (candidate.references == 0) {
            entry = &candidate;
            break;
        }
    }
    if (entry) {
        glDeleteProgram(entry->program);
        std::erase_if(m_uniformLocations, [&](const auto& item) { return item.first.first == entry->program; });
        std::erase_if(m_sentValues, [&](const auto& item) { return (item.first >> 32) == entry->program; });
    } else {
        entry = &m_programs.emplace_back();
    }
    *entry = LinkedProgram {};
    entry->references = 1;
    std::memcpy(entry->key, key, sizeof key);
    entry->keyLength = length;

    entry->program = glCreateProgram();
    if (entry->program == 0)
        QUERN_FATAL("glCreateProgram() failed");
    for (u64 i = 0; i < length; ++i)
        glAttachShader(entry->program, key[i]);
    {
        // The driver's compiler may compute with denormals and worse; the
        // game's floating-point traps are for the game's own arithmetic.
        platform::UntrappedFloatingPointScope untrapped;
        glLinkProgram(entry->program);
    }

    GLint logLength = 0;
    glGetProgramiv(entry->program, GL_INFO_LOG_LENGTH, &logLength);
    if (logLength > 1) {
        memory::Allocator& allocator = *memory::getDefaultAllocator();
        char* log = static_cast<char*>(allocator.allocate(static_cast<u64>(logLength), 4));
        if (!log)
            QUERN_OUT_OF_MEMORY();
        GLsizei written = 0;
        glGetProgramInfoLog(entry->program, logLength, &written, log);
        if (std::strncmp(log, "No errors.", 10) != 0)
            QUERN_LOG(2) << std::string(log, static_cast<u64>(written > 0 ? written : 0)) << std::endl;
        allocator.free(log);
    }
    GLint linked = 0;
    glGetProgramiv(entry->program, GL_LINK_STATUS, &linked);
    if (linked == 0) {
        glDeleteProgram(entry->program);
        entry->program = 0;
        QUERN_FATAL("glLinkProgram() failed");
    }
    return *entry;
}

void OpenGLStateObjects::release(u32 program)
{
    for (LinkedProgram& entry : m_programs) {
        if (entry.program == program) {
            --entry.references;
            return;
        }
    }
    QUERN_FATAL("Unreachable code hit");
}

void OpenGLStateObjects::bind(u32 handle)
{
    if (handle == m_current)
        return;
    const OpenGLStateObject* previous = m_current ? &record(m_current) : nullptr;
    apply(record(handle), previous);
    m_current = handle;
}

void OpenGLStateObjects::apply(const OpenGLStateObject& next, const OpenGLStateObject* previous)
{
    if (!previous) {
        enable(GL_BLEND, next.blendEnabled);
        if (next.blendEnabled) {
            glBlendFunc(next.blendSource, next.blendDestination);
            glBlendColor(next.blendColour[0], next.blendColour[1], next.blendColour[2], next.blendColour[3]);
            glBlendEquation(next.blendEquation);
        }
        enable(GL_CULL_FACE, next.cullFace != 0);
        if (next.cullFace != 0)
            glCullFace(next.cullFace);
        enable(GL_SCISSOR_TEST, next.scissorEnabled);
        if (next.scissorEnabled)
            glScissor(next.scissor[0], next.scissor[1], next.scissor[2], next.scissor[3]);
        enable(GL_DEPTH_TEST, next.depthTestEnabled);
        if (next.depthTestEnabled)
            glDepthFunc(next.depthFunction);
        glDepthMask(next.depthWriteEnabled);
        enable(GL_POLYGON_OFFSET_FILL, next.polygonOffsetEnabled);
        if (next.polygonOffsetEnabled)
            glPolygonOffset(next.polygonOffsetFactor, next.polygonOffsetUnits);
        applyFill(next);
        enable(GL_COLOR_LOGIC_OP, next.logicEnabled);
        if (next.logicEnabled)
            glLogicOp(next.logicOperation);
        enable(GL_STENCIL_TEST, next.stencilEnabled);
        if (next.stencilEnabled) {
            glStencilFunc(next.stencilFunction, next.stencilReference, next.stencilMask);
            glStencilOp(next.stencilFail, next.stencilDepthFail, next.stencilPass);
        }
        glUseProgram(next.program);
        return;
    }

    const OpenGLStateObject& p = *previous;
    toggle(GL_BLEND, next.blendEnabled, p.blendEnabled);
    if (next.blendEnabled) {
        glBlendFunc(next.blendSource, next.blendDestination);
        glBlendColor(next.blendColour[0], next.blendColour[1], next.blendColour[2], next.blendColour[3]);
        glBlendEquation(next.blendEquation);
    }
    if (next.cullFace != p.cullFace) {
        if (next.cullFace != 0) {
            glEnable(GL_CULL_FACE);
            glCullFace(next.cullFace);
        } else {
            glDisable(GL_CULL_FACE);
        }
    }
    toggle(GL_SCISSOR_TEST, next.scissorEnabled, p.scissorEnabled);
    if (next.scissorEnabled)
        glScissor(next.scissor[0], next.scissor[1], next.scissor[2], next.scissor[3]);
    toggle(GL_DEPTH_TEST, next.depthTestEnabled, p.depthTestEnabled);
    if (next.depthTestEnabled && next.depthFunction != p.depthFunction)
        glDepthFunc(next.depthFunction);
    if (next.depthWriteEnabled != p.depthWriteEnabled)
        glDepthMask(next.depthWriteEnabled);
    toggle(GL_POLYGON_OFFSET_FILL, next.polygonOffsetEnabled, p.polygonOffsetEnabled);
    if (next.polygonOffsetEnabled)
        glPolygonOffset(next.polygonOffsetFactor, next.polygonOffsetUnits);
    applyFill(next);
    toggle(GL_COLOR_LOGIC_OP, next.logicEnabled, p.logicEnabled);
    if (next.logicEnabled && next.logicOperation != p.logicOperation)
        glLogicOp(next.logicOperation);
    toggle(GL_STENCIL_TEST, next.stencilEnabled, p.stencilEnabled);
    if (next.stencilEnabled) {
        glStencilFunc(next.stencilFunction, next.stencilReference, next.stencilMask);
        glStencilOp(next.stencilFail, next.stencilDepthFail, next.stencilPass);
    }
    if (next.program != p.program)
        glUseProgram(next.program);
}

void OpenGLStateObjects::unbind()
{
    m_current = 0;
    for (BoundUnit& unit : m_boundUnits)
        unit.valid = false;
    m_activeUnit = -1;
}

namespace {

bool sameSampling(const OpenGLTextureUnitState& a, const OpenGLTextureUnitState& b)
{
    return a.enabled == b.enabled && a.minFilter == b.minFilter && a.magFilter == b.magFilter && a.wrapS == b.wrapS
        && a.wrapT == b.wrapT && a.maxAnisotropy == b.maxAnisotropy;
}

} // namespace

void OpenGLStateObjects::bindTextures(graphics::PixelBuffer* const* images, u32 count)
{
    // With none bound, the first slot's sampling stands in.
    if (!m_table || m_table->slotCount() == 0)
        return;
    const OpenGLStateObject& object = record(m_current);
    for (u32 i = 0; i < count && i < kMaxTextureUnitsTracked; ++i) {
        const auto* image = static_cast<const OpenGLPixelBuffer*>(images[i]);
        if (!image)
            continue;
        const OpenGLTextureUnitState& unit = object.units[i];
        const bool sampled = image->target() != GL_TEXTURE_2D_MULTISAMPLE && unit.enabled;
        BoundUnit& bound = m_boundUnits[i];
        if (bound.valid && bound.target == image->target() && bound.name == image->name()
            && (!sampled || sameSampling(bound.sampling, unit)))
            continue;
        glActiveTexture(GL_TEXTURE0 + i);
        m_activeUnit = static_cast<i32>(i);
        glBindTexture(image->target(), image->name());
        bound.valid = true;
        bound.target = image->target();
        bound.name = image->name();
        bound.sampling = unit;
        if (!sampled)
            continue;
        glTexParameteri(image->target(), GL_TEXTURE_MIN_FILTER, static_cast<GLint>(unit.minFilter));
        glTexParameteri(image->target(), GL_TEXTURE_MAG_FILTER, static_cast<GLint>(unit.magFilter));
        glTexParameteri(image->target(), GL_TEXTURE_WRAP_S, static_cast<GLint>(unit.wrapS));
        glTexParameteri(image->target(), GL_TEXTURE_WRAP_T, static_cast<GLint>(unit.wrapT));
        if (m_caps.EXT_texture_filter_anisotropic)
            glTexParameterf(image->target(), GL_TEXTURE_MAX_ANISOTROPY_EXT, unit.maxAnisotropy);
    }
    // Image uploads bind on the active unit: unit 7 keeps them off the units draws use.
    if (m_activeUnit != 7) {
        glActiveTexture(GL_TEXTURE7);
        m_activeUnit = 7;
    }
}

i32 OpenGLStateObjects::uniformLocation(u32 program, const void* uniform, const std::string& name)
{
    auto [slot, added] = m_uniformLocations.try_emplace({ program, uniform }, UniformSlot { name, 0 });
    if (added || slot->second.name != name) {
        slot->second.name = name;
        const GLint location = glGetUniformLocation(program, name.c_str());
        slot->second.location = location < 0 ? graphics::Uniform::kLocationAbsent : location;
    }
    return slot->second.location;
}

bool OpenGLStateObjects::changesUniform(u32 program, i32 location, const void* value, u32 words)
{
    if (words == 0 || words > 16)
        return true;
    const u64 key = (static_cast<u64>(program) << 32) | static_cast<u32>(location);
    auto [slot, added] = m_sentValues.try_emplace(key);
    SentValue& sent = slot->second;
    if (!added && sent.words == words && std::memcmp(sent.value, value, words * 4u) == 0)
        return false;
    sent.words = words;
    std::memcpy(sent.value, value, words * 4u);
    return true;
}

void OpenGLStateObjects::setUniforms(const graphics::ShaderProgramState* state, const void* context)
{
    if (!state || !m_current)
        return;
    const u32 program = record(m_current).program;
    const auto& job = *static_cast<const render::RenderJob*>(context);
    for (u32 stage = 0; stage < graphics::ShaderProgramState::kStageCount; ++stage) {
        const graphics::UniformList& list = state->uniforms(static_cast<graphics::ShaderProgramState::Stage>(stage));
        for (u64 i = 0; i < list.count(); ++i) {
            graphics::Uniform* uniform = list.at(i);
            const i32 location = uniformLocation(program, uniform, uniform->name());
            if (location < 0)
                continue;
            const auto* value = static_cast<const f32*>(uniform->getValue(job));
            if (!value)
                continue;
            const auto count = static_cast<GLsizei>(uniform->count());
            u32 words = 0;
            switch (uniform->type()) {
            case graphics::UniformType::Float:
            case graphics::UniformType::Int:
            case graphics::UniformType::Sampler:
                words = 1;
                break;
            case graphics::UniformType::Vector:
                words = count >= 2 && count <= 4 ? static_cast<u32>(count) : 0;
                break;
            case graphics::UniformType::Matrix4:
                words = 16;
                break;
            case graphics::UniformType::FloatArray:
                words = static_cast<u32>(count);
                break;
            case graphics::UniformType::Vector4Array:
                words = static_cast<u32>(count / 4 * 4);
                break;
            case graphics::UniformType::Matrix4Array:
                words = static_cast<u32>(count / 16 * 16);
                break;
            }
            if (words != 0 && !changesUniform(program, location, value, words))
                continue;
            switch (uniform->type()) {
            case graphics::UniformType::Float:
                glUniform1f(location, value[0]);
                break;
            case graphics::UniformType::Int:
            case graphics::UniformType::Sampler:
                glUniform1i(location, *reinterpret_cast<const i32*>(value));
                break;
            case graphics::UniformType::Vector:
                if (count == 2)
                    glUniform2f(location, value[0], value[1]);
                else if (count == 3)
                    glUniform3f(location, value[0], value[1], value[2]);
                else if (count == 4)
                    glUniform4f(location, value[0], value[1], value[2], value[3]);
                break;
            case graphics::UniformType::Matrix4:
                glUniformMatrix4fv(location, 1, GL_FALSE, value);
                break;
            case graphics::UniformType::FloatArray:
                glUniform1fv(location, count, value);
                break;
            case graphics::UniformType::Vector4Array:
                glUniform4fv(location, count / 4, value);
                break;
            case graphics::UniformType::Matrix4Array:
                glUniformMatrix4fv(location, count / 16, GL_FALSE, value);
                break;
            }
        }
    }
}

void OpenGLStateObjects::bindVertexAttributes(const graphics::VertexFormat& format, uintptr_t base)
{
    // Without a bound state object there are no locations to point.
    if (!m_current)
        return;
    const OpenGLStateObject& object = record(m_current);
    for (u64 i = 0; i < object.attributeCount; ++i) {
        const i32 location = object.attributeLocations[i];
        if (location < 0)
            continue;
        const graphics::VertexAttribute& attribute = format.attributes[i];
        glEnableVertexAttribArray(static_cast<GLuint>(location));
        GLenum type = 0;
        GLboolean normalised = GL_FALSE;
        if (attribute.type == graphics::VertexAttribute::Float) {
            type = GL_FLOAT;
        } else if (attribute.type == graphics::VertexAttribute::UnsignedByte) {
            type = GL_UNSIGNED_BYTE;
            normalised = GL_TRUE;
        } else {
            QUERN_FATAL("Unsupported vertex attribute type");
        }
        glVertexAttribPointer(static_cast<GLuint>(location), attribute.count, type, normalised,
            static_cast<GLsizei>(format.stride), reinterpret_cast<const void*>(base + attribute.offset));
    }
}

void OpenGLStateObjects::disableVertexAttributes()
{
    if (!m_current)
        return;
    const OpenGLStateObject& object = record(m_current);
    for (u64 i = 0; i < object.attributeCount; ++i) {
        if (object.attributeLocations[i] >= 0)
            glDisableVertexAttribArray(static_cast<GLuint>(object.attributeLocations[i]));
    }
}

} // namespace quern::opengl

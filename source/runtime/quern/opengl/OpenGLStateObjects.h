#pragma once
// The OpenGL device's state objects: one record per (Shader, vertex format)
// handle with the translated GL state, the linked program and the attribute
// locations, kept under 32-bit handles. Binding sends only what differs from
// the record bound before. Linked programs are shared between records that
// use the same shader objects, by reference count; an entry whose count fell
// to 0 keeps its GL program until it is reused or the table shuts down.

#include "quern/Types.h"
#include "quern/containers/HandleTable.h"
#include "quern/opengl/OpenGLStateObject.h"
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace quern::graphics {
class PixelBuffer;
class Shader;
class ShaderProgramState;
class VertexFormat;
struct DisplayCaps;
} // namespace quern::graphics

namespace quern::opengl {

struct LinkedProgram {
    u32 program = 0;
    u32 key[4] = {};
    u64 keyLength = 0;
    i32 references = 0;
};

class OpenGLStateObjects {
public:
    static constexpr u32 kMaxTextureUnitsTracked = 8;

    // `caps` is the device's record; it outlives the table.
    explicit OpenGLStateObjects(const graphics::DisplayCaps& caps);
    ~OpenGLStateObjects();
    OpenGLStateObjects(const OpenGLStateObjects&) = delete;
    OpenGLStateObjects& operator=(const OpenGLStateObjects&) = delete;

    // Reserves room for `capacity` records.
    void init(u64 capacity);
    // Drops every record (without visiting them) and deletes every cached program.
    void shutdown();
    bool initialised() const { return m_initialised; }

    u32 allocate();
    void destroy(u32 handle);
    void create(u32 handle, graphics::Shader* shader, const graphics::VertexFormat* format);
    void bind(u32 handle);
    // Also forgets which textures the units hold: GL work between dispatches
    // (image uploads, other code) may have changed them.
    void unbind();
    void bindTextures(graphics::PixelBuffer* const* images, u32 count);
    // `context` is the draw's record (a render::RenderJob).
    void setUniforms(const graphics::ShaderProgramState* state, const void* context);
    // Points the bound record's attributes at `base` (a buffer offset with a
    // bound VBO, else a client pointer).
    void bindVertexAttributes(const graphics::VertexFormat& format, uintptr_t base);
    // Turns off the arrays bindVertexAttributes turned on.
    void disableVertexAttributes();

    u32 current() const { return m_current; }
    // The record of a handle, found by its index.
    OpenGLStateObject& record(u32 handle);
    const std::vector<LinkedProgram>& programs() const { return m_programs; }
    u64 slotCount() const { return m_table ? m_table->slotCount() : 0; }

private:
    const LinkedProgram& getOrLink(const graphics::ShaderProgramState* state);
    void release(u32 program);
    void apply(const OpenGLStateObject& next, const OpenGLStateObject* previous);
    i32 uniformLocation(u32 program, const void* uniform, const std::string& name);

    const graphics::DisplayCaps& m_caps;
    std::unique_ptr<containers::HandleTable> m_table;
    u32 m_current = 0;
    bool m_initialised = false;
    std::vector<LinkedProgram> m_programs;
    // Uniform locations per program and uniform object: one uniform object
    // serves every program that uses it (a shared shadow matrix, a skinning
    // palette), and each program places it where it likes. The name is kept
    // so that a new uniform at a freed one's address is asked again.
    struct UniformSlot {
        std::string name;
        i32 location;
    };
    struct PairHash {
        u64 operator()(const std::pair<u32, const void*>& key) const
        {
            return std::hash<const void*>()(key.second) * 31u + key.first;
        }
    };
    std::unordered_map<std::pair<u32, const void*>, UniformSlot, PairHash> m_uniformLocations;
    // The value last sent to each (program, location): a program keeps its
    // uniform values, and resending an unchanged one still makes the driver
    // revalidate its state. Values of up to 16 words are remembered.
    struct SentValue {
        u32 words;
        u32 value[16];
    };
    // True when the value must be sent (and remembers it).
    bool changesUniform(u32 program, i32 location, const void* value, u32 words);
    std::unordered_map<u64, SentValue> m_sentValues;
    // What bindTextures last left on each unit, so that a draw with the same
    // image and sampling sends nothing: rebinding even the same texture makes
    // the driver revalidate its samplers.
    struct BoundUnit {
        bool valid = false;
        u32 target = 0;
        u32 name = 0;
        OpenGLTextureUnitState sampling;
    };
    BoundUnit m_boundUnits[kMaxTextureUnitsTracked];
    // The active unit, or -1 when unknown.
    i32 m_activeUnit = -1;
};

} // namespace quern::opengl

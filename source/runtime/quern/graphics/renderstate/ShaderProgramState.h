#pragma once
// The programs of a pass (vertex, fragment, geometry) and the uniforms each
// stage uploads, in upload order.

#include "quern/containers/Array.h"
#include "quern/graphics/renderstate/RenderState.h"

#include <string>

namespace quern::graphics {

class ShaderProgram;
class Uniform;

// An ordered list of retained uniforms.
class UniformList {
public:
    UniformList();
    // Retains every uniform of `other` again.
    UniformList(const UniformList& other);
    UniformList& operator=(const UniformList&) = delete;
    ~UniformList();

    u64 count() const { return m_items.count(); }
    Uniform* at(u64 index) const { return m_items.at<Uniform*>(index); }

    void append(Uniform* uniform);
    // Removes every occurrence, keeping the order of the rest.
    void removeAll(const Uniform* uniform);
    // Removes the first uniform with exactly that name; false when none has it.
    bool removeFirstNamed(const std::string& name);
    void clear();
    bool hasPerDrawUniforms() const;
    // Same length, and pairwise the same object or values of equal size and
    // bytes (stored values; automatic ones compare by name).
    bool equals(const UniformList& other) const;

private:
    void removeAt(u64 index);

    containers::Array m_items;
};

class ShaderProgramState final : public RenderState {
public:
    static constexpr RenderStateID kKind = RenderStateID::ShaderProgramState;
    // The uniform list of each program stage.
    enum Stage : u32 {
        VertexStage = 0,
        FragmentStage = 1,
        GeometryStage = 2,
    };
    static constexpr u32 kStageCount = 3;

    explicit ShaderProgramState(StateObjectCache* cache);
    // Retains the programs and the uniforms again.
    ShaderProgramState(const ShaderProgramState& other);
    ~ShaderProgramState() override;

    // Distinct objects differ; the same object differs from itself when its
    // values change per draw.
    bool differs(const RenderState& other) const override;
    bool equals(const RenderState& other) const override;
    u32 hash() const override { return 0; }
    // Per stage: other's program when it has one (this stage's uniforms are
    // then dropped), then other's uniforms merged in.
    void assign(const RenderState& other) override;
    // The base line, then the description of each program that is set.
    void print(std::ostream& out) const override;

    void setVertexProgram(ShaderProgram* program) { setProgram(VertexStage, program); }
    void setFragmentProgram(ShaderProgram* program) { setProgram(FragmentStage, program); }
    void setGeometryProgram(ShaderProgram* program) { setProgram(GeometryStage, program); }
    ShaderProgram* program(Stage stage) const { return m_programs[stage]; }
    ShaderProgram* vertexProgram() const { return m_programs[VertexStage]; }
    ShaderProgram* fragmentProgram() const { return m_programs[FragmentStage]; }
    ShaderProgram* geometryProgram() const { return m_programs[GeometryStage]; }

    const UniformList& uniforms(Stage stage) const { return m_uniforms[stage]; }
    // Appends (retained) and announces the change.
    void addUniform(Uniform* uniform, Stage stage);
    // Removes every handle to it from the stage's list; no change announced.
    void removeUniform(Uniform* uniform, Stage stage);
    // For each uniform of `from` in order: the stage's uniform of the same
    // name goes, then the new one is added.
    void mergeUniforms(Stage stage, const UniformList& from);

    bool hasPerDrawUniforms() const { return m_hasPerDrawUniforms != 0; }
    // After a uniform's value was written in place: dirty in the cache, listener told.
    void markChanged() { notifyChanged(); }

private:
    void setProgram(Stage stage, ShaderProgram* program);
    void updatePerDrawFlag();

    ShaderProgram* m_programs[kStageCount] = {};
    UniformList m_uniforms[kStageCount];
    u8 m_hasPerDrawUniforms = 0;
};

} // namespace quern::graphics

#include "quern/graphics/renderstate/ShaderProgramState.h"

#include "quern/graphics/ShaderProgram.h"
#include "quern/graphics/Uniform.h"
#include "quern/render/RenderJob.h"

#include <cstring>
#include <ostream>

namespace quern::graphics {

namespace {

void retainProgram(ShaderProgram* program)
{
    if (program)
        RefCounted::retain(static_cast<RefCounted*>(program));
}

void releaseProgram(ShaderProgram* program)
{
    if (program)
        RefCounted::release(static_cast<RefCounted*>(program));
}

// Equal values read for a draw with no matrices. Automatic uniforms have no
// value then; two of them are equal when they name the same matrix.
bool sameValue(Uniform& a, Uniform& b)
{
    if (a.count() != b.count())
        return false;
    const render::RenderJob noDraw;
    const void* first = a.getValue(noDraw);
    const void* second = b.getValue(noDraw);
    if (!first || !second)
        return !first && !second && a.name() == b.name();
    return std::memcmp(first, second, a.count() * sizeof(f32)) == 0;
}

} // namespace

UniformList::UniformList() : m_items(sizeof(Uniform*), alignof(Uniform*)) {}

UniformList::UniformList(const UniformList& other) : UniformList()
{
    for (u64 i = 0; i < other.count(); ++i)
        append(other.at(i));
}

UniformList::~UniformList()
{
    clear();
    m_items.release();
}

void UniformList::append(Uniform* uniform)
{
    RefCounted::retain(static_cast<RefCounted*>(uniform));
    m_items.append(uniform);
}

void UniformList::removeAt(u64 index)
{
    Uniform* uniform = at(index);
    Uniform** items = m_items.dataAs<Uniform*>();
    std::memmove(items + index, items + index + 1, (count() - index - 1) * sizeof(Uniform*));
    m_items.expand(count() - 1);
    RefCounted::release(static_cast<RefCounted*>(uniform));
}

void UniformList::removeAll(const Uniform* uniform)
{
    for (u64 i = count(); i-- > 0;)
        if (at(i) == uniform)
            removeAt(i);
}

bool UniformList::removeFirstNamed(const std::string& name)
{
    for (u64 i = 0; i < count(); ++i) {
        if (at(i)->name() == name) {
            removeAt(i);
            return true;
        }
    }
    return false;
}

void UniformList::clear()
{
    while (count() > 0)
        removeAt(count() - 1);
}

bool UniformList::hasPerDrawUniforms() const
{
    for (u64 i = 0; i < count(); ++i)
        if (at(i)->isPerDraw())
            return true;
    return false;
}

bool UniformList::equals(const UniformList& other) const
{
    if (count() != other.count())
        return false;
    for (u64 i = 0; i < count(); ++i) {
        Uniform* a = at(i);
        Uniform* b = other.at(i);
        if (a != b && !sameValue(*a, *b))
            return false;
    }
    return true;
}

ShaderProgramState::ShaderProgramState(StateObjectCache* cache) : RenderState(kKind, cache) {}

ShaderProgramState::ShaderProgramState(const ShaderProgramState& other)
    : RenderState(other), m_uniforms{other.m_uniforms[0], other.m_uniforms[1], other.m_uniforms[2]},
      m_hasPerDrawUniforms(other.m_hasPerDrawUniforms)
{
    for (u32 stage = 0; stage < kStageCount; ++stage) {
        m_programs[stage] = other.m_programs[stage];
        retainProgram(m_programs[stage]);
    }
}

ShaderProgramState::~ShaderProgramState()
{
    for (ShaderProgram* program : m_programs)
        releaseProgram(program);
}

bool ShaderProgramState::differs(const RenderState& other) const
{
    return &other != this || hasPerDrawUniforms();
}

bool ShaderProgramState::equals(const RenderState& other) const
{
    if (&other == this)
        return true;
    if (other.kind() != kKind)
        return false;
    const ShaderProgramState& that = static_cast<const ShaderProgramState&>(other);
    for (u32 stage = 0; stage < kStageCount; ++stage)
        if (m_programs[stage] != that.m_programs[stage])
            return false;
    for (u32 stage = 0; stage < kStageCount; ++stage)
        if (!m_uniforms[stage].equals(that.m_uniforms[stage]))
            return false;
    return true;
}

void ShaderProgramState::assign(const RenderState& other)
{
    // Merging a list into itself would walk a list while changing it.
    if (&other == this)
        return;
    checkSameKind(other);
    const ShaderProgramState& that = static_cast<const ShaderProgramState&>(other);
    for (u32 stage = 0; stage < kStageCount; ++stage) {
        ShaderProgram* program = that.m_programs[stage];
        if (program && program != m_programs[stage]) {
            retainProgram(program);
            releaseProgram(m_programs[stage]);
            m_programs[stage] = program;
            m_uniforms[stage].clear();
            updatePerDrawFlag();
        }
        mergeUniforms(static_cast<Stage>(stage), that.m_uniforms[stage]);
    }
}

void ShaderProgramState::print(std::ostream& out) const
{
    RenderState::print(out);
    static const char* const kLabels[kStageCount] = {"Vertex program: ", "fragment program: ", "Geometry program: "};
    for (u32 stage = 0; stage < kStageCount; ++stage) {
        if (m_programs[stage]) {
            out << '\n' << kLabels[stage];
            m_programs[stage]->describe(out);
        }
    }
}

void ShaderProgramState::setProgram(Stage stage, ShaderProgram* program)
{
    if (m_programs[stage] == program)
        return;
    retainProgram(program);
    releaseProgram(m_programs[stage]);
    m_programs[stage] = program;
    notifyChanged();
}

void ShaderProgramState::addUniform(Uniform* uniform, Stage stage)
{
    m_uniforms[stage].append(uniform);
    if (uniform->isPerDraw())
        m_hasPerDrawUniforms = 1;
    notifyChanged();
}

void ShaderProgramState::removeUniform(Uniform* uniform, Stage stage)
{
    m_uniforms[stage].removeAll(uniform);
    updatePerDrawFlag();
}

void ShaderProgramState::mergeUniforms(Stage stage, const UniformList& from)
{
    if (&from == &m_uniforms[stage]) {
        const UniformList copy(from); // the walk must not see its own removals
        mergeUniforms(stage, copy);
        return;
    }
    for (u64 i = 0; i < from.count(); ++i) {
        Uniform* uniform = from.at(i);
        m_uniforms[stage].removeFirstNamed(uniform->name());
        addUniform(uniform, stage);
    }
}

void ShaderProgramState::updatePerDrawFlag()
{
    bool perDraw = false;
    for (const UniformList& list : m_uniforms)
        perDraw = perDraw || list.hasPerDrawUniforms();
    m_hasPerDrawUniforms = perDraw ? 1 : 0;
}

} // namespace quern::graphics

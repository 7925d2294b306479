#pragma once
// Translation of the engine's render states into the GL values of a state
// object. Each translator fills its group of fields; an absent state (null)
// gives the group's defaults. Enumeration values outside their tables are
// fatal: the engine's states never hold them, so one means corrupted data.

#include "quern/Types.h"

namespace quern::graphics {
class AlphaBlendState;
class CullState;
class DepthBufferState;
class FillState;
class LogicalBlendState;
class StencilBufferState;
class TextureState;
struct DisplayCaps;
} // namespace quern::graphics

namespace quern::opengl {

struct OpenGLStateObject;

u32 translateBlendFactor(u8 factor);
u32 translateBlendEquation(u8 equation);
u32 translateComparison(u8 comparison);
u32 translateFillMode(u8 mode);
u32 translateLogicOperation(u8 operation);
u32 translateStencilOperation(u8 operation);
// 1 repeat, 2 clamp, 3 clamp to edge; 0 is fatal "Invalid texture wrap".
u32 translateTextureWrap(u8 wrap);

void translateAlphaBlend(const graphics::AlphaBlendState* state, OpenGLStateObject& out);
void translateCull(const graphics::CullState* state, OpenGLStateObject& out);
void translateDepthBuffer(const graphics::DepthBufferState* state, OpenGLStateObject& out);
void translateFill(const graphics::FillState* state, OpenGLStateObject& out);
void translateLogicalBlend(const graphics::LogicalBlendState* state, OpenGLStateObject& out);
void translateStencilBuffer(const graphics::StencilBufferState* state, OpenGLStateObject& out);
// Unit count min(caps' texture units, 8); units without a texture are disabled.
void translateTextureState(
    const graphics::TextureState* state, const graphics::DisplayCaps& caps, OpenGLStateObject& out);

} // namespace quern::opengl

#pragma once
// The device form of a Shader drawn with one vertex format: every GL value its
// render states translate to, the linked program and the attribute locations.
// Built once per state-object creation; binding compares two of them.

#include "quern/Types.h"

namespace quern::opengl {

struct OpenGLTextureUnitState {
    u32 name = 0;
    u32 target = 0;
    u32 minFilter = 0;
    u32 magFilter = 0;
    f32 maxAnisotropy = 1.0f;
    u32 wrapS = 0;
    u32 wrapT = 0;
    u32 compareFunction = 0;
    u32 compareMode = 0;
    u8 enabled = 0;
};

struct OpenGLStateObject {
    static constexpr u32 kMaxTextureUnits = 8;
    static constexpr u32 kMaxAttributes = 16;

    // Blend.
    u32 blendSource = 0;
    u32 blendDestination = 0;
    f32 blendColour[4] = {};
    u32 blendEquation = 0;
    u8 blendEnabled = 0;
    // Cull face (0 = culling off) and scissor.
    u32 cullFace = 0;
    u8 scissorEnabled = 0;
    i32 scissor[4] = {};
    // Depth.
    u8 depthTestEnabled = 0;
    u8 depthWriteEnabled = 0;
    u8 polygonOffsetEnabled = 0;
    u32 depthFunction = 0;
    f32 polygonOffsetFactor = 0;
    f32 polygonOffsetUnits = 0;
    // Fill.
    u32 polygonMode = 0;
    f32 lineWidth = 1.0f;
    u8 colourMask[4] = {};
    u8 lineSmoothing = 0;
    // Logic op.
    u32 logicOperation = 0;
    u8 logicEnabled = 0;
    // Stencil.
    u32 stencilFunction = 0;
    i32 stencilReference = 0;
    u32 stencilMask = 0;
    u32 stencilFail = 0;
    u32 stencilDepthFail = 0;
    u32 stencilPass = 0;
    u8 stencilEnabled = 0;
    // Texture units.
    OpenGLTextureUnitState units[kMaxTextureUnits];
    u32 unitCount = 0;
    u8 textureStatePresent = 0;
    // Program and attribute locations (negative: the program does not use it).
    u32 program = 0;
    i32 attributeLocations[kMaxAttributes] = {};
    u64 attributeCount = 0;
};

} // namespace quern::opengl

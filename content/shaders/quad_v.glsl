#version 140
// The full-screen passes: the unit quad through the quad renderer's
// matrices, its texture coordinates running from 0 to 1 across the frame.

uniform mat4 modelViewProjectionMatrix;

in vec4 position;
in vec2 texcoord0;

out vec2 texCoord;

void main()
{
    texCoord = texcoord0;
    gl_Position = modelViewProjectionMatrix * position;
}

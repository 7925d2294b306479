#version 140
// Particle quads: the corners come ready-made in the emitter's space with a
// colour each, so the program only places them and passes the colour on,
// with the depth in view space for the fog.

uniform mat4 modelViewProjectionMatrix;
uniform mat4 modelViewMatrix;

in vec4 position;
in vec4 color;
in vec2 texcoord0;

out vec2 texCoord;
out vec4 particleColour;
out float viewDepth;

void main()
{
    vec4 p = vec4(position.xyz, 1.0);
    texCoord = texcoord0;
    particleColour = color;
    viewDepth = -(modelViewMatrix * p).z;
    gl_Position = modelViewProjectionMatrix * p;
}

#version 140
// Particles: the texture's red channel is the shape's coverage, the colour
// comes from the particle. The material's blend factors say whether the
// result covers what is behind (alpha) or adds to it (light).

uniform sampler2D _MainTex;
// Start, 1 / (end - start); both 0 when the level has no fog.
uniform vec4 fog;
uniform vec4 fogColor;

in vec2 texCoord;
in vec4 particleColour;
in float viewDepth;

out vec4 fragColor;

void main()
{
    float coverage = texture(_MainTex, texCoord).r;
    float fogAmount = clamp((viewDepth - fog.x) * fog.y, 0.0, 1.0);
    fragColor = vec4(mix(particleColour.rgb, fogColor.rgb, fogAmount), particleColour.a * coverage);
}

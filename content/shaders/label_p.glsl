#version 140
// Text labels in the level: glyphs of a font page (white, coverage in alpha)
// and prompt glyphs (coloured) come through the same texture unit, each
// sub-mesh binding its own page; the vertex colour tints both.

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
    vec4 texel = texture(_MainTex, texCoord) * particleColour;
    float fogAmount = clamp((viewDepth - fog.x) * fog.y, 0.0, 1.0);
    fragColor = vec4(mix(texel.rgb, fogColor.rgb, fogAmount), texel.a);
}

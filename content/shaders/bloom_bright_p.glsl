#version 140
// Bloom's bright pass: what exceeds the threshold, stretched back to the
// full range, optionally weighted by the source's alpha.

uniform sampler2D _MainTex;
// Threshold t, 1 / (1 - t).
uniform vec4 threshold;
// How much the source's alpha masks the result: 0 not at all, 1 fully.
uniform float useSrcAlphaMask;

in vec2 texCoord;

out vec4 fragColor;

void main()
{
    vec4 source = texture(_MainTex, texCoord);
    // A threshold of 1 would stretch by infinity; nothing passes it anyway.
    vec3 bright = max(source.rgb - vec3(threshold.x), vec3(0.0)) * min(threshold.y, 65504.0);
    float mask = mix(1.0, source.a, useSrcAlphaMask);
    fragColor = vec4(bright * mask, 1.0);
}

#version 140
// Vignette: towards the edges, where the mask falls from 1 to 0, the frame
// blurs (blurredTex is a blurred copy of it) and darkens.

uniform sampler2D _MainTex;
uniform sampler2D vignetteTex;
uniform sampler2D blurredTex;
// Darkening at the mask's 0: none at 0, black at 1.
uniform float intensity;
// Blur at the mask's 0: none at 0, the blurred copy alone at 1.
uniform float blur;

in vec2 texCoord;

out vec4 fragColor;

void main()
{
    vec4 sharp = texture(_MainTex, texCoord);
    float edge = 1.0 - texture(vignetteTex, texCoord).r;
    vec3 colour = mix(sharp.rgb, texture(blurredTex, texCoord).rgb, clamp(blur * edge, 0.0, 1.0));
    fragColor = vec4(colour * clamp(1.0 - intensity * edge, 0.0, 1.0), sharp.a);
}

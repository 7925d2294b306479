#version 140
// A full-screen texture laid over the frame in overlay mode (darkening below
// mid-grey, lightening above it; mid-grey changes nothing), faded in by
// _Intensity.

uniform sampler2D _MainTex;
uniform sampler2D _Overlay;
uniform float _Intensity;

in vec2 texCoord;

out vec4 fragColor;

void main()
{
    vec4 frame = texture(_MainTex, texCoord);
    vec3 layer = texture(_Overlay, texCoord).rgb;
    vec3 darkened = 2.0 * frame.rgb * layer;
    vec3 lightened = 1.0 - 2.0 * (1.0 - frame.rgb) * (1.0 - layer);
    vec3 blended = mix(darkened, lightened, step(vec3(0.5), frame.rgb));
    fragColor = vec4(mix(frame.rgb, blended, clamp(_Intensity, 0.0, 1.0)), frame.a);
}

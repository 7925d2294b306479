#version 140
// Chromatic aberration: red and blue drawn apart from the centre, by the
// given number of pixels at the corners and less towards the middle.

uniform sampler2D _MainTex;
uniform float chromaticAberration;
// 1 / width, 1 / height of the source.
uniform vec4 _MainTex_TexelSize;

in vec2 texCoord;

out vec4 fragColor;

void main()
{
    // From (-1, -1) to (1, 1) across the frame.
    vec2 fromCentre = texCoord * 2.0 - 1.0;
    vec2 shift = fromCentre * chromaticAberration * _MainTex_TexelSize.xy;
    vec4 middle = texture(_MainTex, texCoord);
    float red = texture(_MainTex, texCoord - shift).r;
    float blue = texture(_MainTex, texCoord + shift).b;
    fragColor = vec4(red, middle.g, blue, middle.a);
}

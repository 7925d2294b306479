#version 140
// One direction of a separable Gaussian blur: nine taps spaced by the offset.

uniform sampler2D _MainTex;
// The step between taps in texture coordinates (x, y).
uniform vec4 offsets;

in vec2 texCoord;

out vec4 fragColor;

void main()
{
    // Binomial weights of a nine-tap kernel, summing to 1.
    const float weights[5] = float[5](0.2270270, 0.1945946, 0.1216216, 0.0540540, 0.0162162);
    vec4 sum = texture(_MainTex, texCoord) * weights[0];
    for (int i = 1; i < 5; ++i) {
        vec2 delta = offsets.xy * float(i);
        sum += (texture(_MainTex, texCoord + delta) + texture(_MainTex, texCoord - delta)) * weights[i];
    }
    fragColor = sum;
}

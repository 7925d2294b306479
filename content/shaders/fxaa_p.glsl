#version 140
// Anti-aliasing of the finished frame: where the luma of a pixel's corners
// shows an edge, the pixel is blended with samples along the edge; flat areas
// keep their colour.

uniform sampler2D frameBuffer;
// 1 / width, 1 / height of the frame.
uniform vec4 inverseResolution;

in vec2 texCoord;

out vec4 fragColor;

// Below this luma contrast a pixel is left alone.
const float kEdgeThreshold = 1.0 / 16.0;
// How far along an edge samples reach, in pixels.
const float kSpanMax = 8.0;
// Keeps the search direction finite in dark areas.
const float kReduceMin = 1.0 / 128.0;
const float kReduceMul = 1.0 / 8.0;

float luma(vec3 colour)
{
    return dot(colour, vec3(0.299, 0.587, 0.114));
}

void main()
{
    vec2 pixel = inverseResolution.xy;
    vec4 middle = texture(frameBuffer, texCoord);
    float lumaNW = luma(texture(frameBuffer, texCoord + vec2(-1.0, -1.0) * pixel).rgb);
    float lumaNE = luma(texture(frameBuffer, texCoord + vec2(1.0, -1.0) * pixel).rgb);
    float lumaSW = luma(texture(frameBuffer, texCoord + vec2(-1.0, 1.0) * pixel).rgb);
    float lumaSE = luma(texture(frameBuffer, texCoord + vec2(1.0, 1.0) * pixel).rgb);
    float lumaM = luma(middle.rgb);
    float lumaMin = min(lumaM, min(min(lumaNW, lumaNE), min(lumaSW, lumaSE)));
    float lumaMax = max(lumaM, max(max(lumaNW, lumaNE), max(lumaSW, lumaSE)));
    if (lumaMax - lumaMin < kEdgeThreshold) {
        fragColor = middle;
        return;
    }

    // Across the luma gradient is along the edge.
    vec2 direction = vec2(-((lumaNW + lumaNE) - (lumaSW + lumaSE)), (lumaNW + lumaSW) - (lumaNE + lumaSE));
    float reduce = max((lumaNW + lumaNE + lumaSW + lumaSE) * 0.25 * kReduceMul, kReduceMin);
    float scale = 1.0 / (min(abs(direction.x), abs(direction.y)) + reduce);
    direction = clamp(direction * scale, vec2(-kSpanMax), vec2(kSpanMax)) * pixel;

    vec3 near = 0.5 * (texture(frameBuffer, texCoord + direction * (1.0 / 3.0 - 0.5)).rgb
        + texture(frameBuffer, texCoord + direction * (2.0 / 3.0 - 0.5)).rgb);
    vec3 far = near * 0.5 + 0.25 * (texture(frameBuffer, texCoord - direction * 0.5).rgb
        + texture(frameBuffer, texCoord + direction * 0.5).rgb);
    // The wider blend has crossed into another edge when its luma leaves the
    // neighbourhood's range.
    float lumaFar = luma(far);
    vec3 colour = lumaFar < lumaMin || lumaFar > lumaMax ? near : far;
    fragColor = vec4(colour, middle.a);
}

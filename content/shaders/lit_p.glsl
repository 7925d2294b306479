#version 140
// The lit material: its texture lit by the ambient colour (scaled by the
// lightmap), two directional lights (the first one shadowed through the
// shadow map) and six point lights, then fogged by the depth in view space.
// Light slots without a light hold zeros and add nothing.

uniform sampler2D _MainTex;
uniform sampler2D lightmap;
uniform sampler2D shadowMap;
uniform vec4 ambientColor;
// Directions are the way the light travels, in world space; colours carry
// the intensity in w.
uniform vec4 lightDirection0;
uniform vec4 lightColor0;
uniform vec4 lightDirection1;
uniform vec4 lightColor1;
// Position and range.
uniform vec4 pointLight0;
uniform vec4 pointLight1;
uniform vec4 pointLight2;
uniform vec4 pointLight3;
uniform vec4 pointLight4;
uniform vec4 pointLight5;
uniform vec4 pointLightColor0;
uniform vec4 pointLightColor1;
uniform vec4 pointLightColor2;
uniform vec4 pointLightColor3;
uniform vec4 pointLightColor4;
uniform vec4 pointLightColor5;
// Start, 1 / (end - start); both 0 when the level has no fog.
uniform vec4 fog;
uniform vec4 fogColor;

in vec2 texCoord;
in vec2 lightmapCoord;
in vec3 worldPosition;
in vec3 worldNormal;
in float viewDepth;
in vec4 shadowCoord;

out vec4 fragColor;

// Half a world unit of the shadow camera's 10000-unit depth range, so a lit
// face does not shadow itself.
const float kShadowBias = 0.00005;

vec3 directional(vec4 direction, vec4 colour, vec3 n)
{
    float magnitude = length(direction.xyz);
    if (magnitude <= 0.0)
        return vec3(0.0);
    return colour.rgb * colour.a * max(dot(n, -direction.xyz / magnitude), 0.0);
}

vec3 point(vec4 light, vec4 colour, vec3 n)
{
    vec3 toLight = light.xyz - worldPosition;
    float distance = length(toLight);
    // Also every empty slot: its range is 0.
    if (distance >= light.w)
        return vec3(0.0);
    float falloff = 1.0 - distance / light.w;
    float facing = distance > 0.0 ? max(dot(n, toLight / distance), 0.0) : 1.0;
    return colour.rgb * colour.a * falloff * falloff * facing;
}

float sunVisibility()
{
    // Without shadows the matrix is never set and w stays 0; outside the
    // map nothing is known to be in shadow.
    if (shadowCoord.w <= 0.0)
        return 1.0;
    vec3 s = shadowCoord.xyz / shadowCoord.w;
    if (any(lessThan(s, vec3(0.0))) || any(greaterThan(s, vec3(1.0))))
        return 1.0;
    return s.z - kShadowBias > texture(shadowMap, s.xy).r ? 0.0 : 1.0;
}

void main()
{
    float normalLength = length(worldNormal);
    vec3 n = normalLength > 0.0 ? worldNormal / normalLength : vec3(0.0, 0.0, 1.0);
    vec4 albedo = texture(_MainTex, texCoord);
    vec3 light = ambientColor.rgb * texture(lightmap, lightmapCoord).rgb
        + directional(lightDirection0, lightColor0, n) * sunVisibility()
        + directional(lightDirection1, lightColor1, n)
        + point(pointLight0, pointLightColor0, n)
        + point(pointLight1, pointLightColor1, n)
        + point(pointLight2, pointLightColor2, n)
        + point(pointLight3, pointLightColor3, n)
        + point(pointLight4, pointLightColor4, n)
        + point(pointLight5, pointLightColor5, n);
    float fogAmount = clamp((viewDepth - fog.x) * fog.y, 0.0, 1.0);
    fragColor = vec4(mix(albedo.rgb * light, fogColor.rgb, fogAmount), albedo.a);
}

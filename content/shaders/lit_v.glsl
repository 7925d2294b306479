#version 140
// The lit material's vertex program. Lighting is done in world space, fog by
// the depth in view space; the shadow map is looked up through the shadow
// matrix, which takes view space to the map. With a skinning palette
// (numBones above 0) each vertex is moved by up to four weighted bones, as
// the skinning system does on the processor.

uniform mat4 modelViewProjectionMatrix;
uniform mat4 modelViewMatrix;
uniform mat4 modelMatrix;
// The model matrix without its translation.
uniform mat4 normalMatrix;
uniform mat4 shadowMatrix;
// As many bones as a skinned mesh may name.
uniform mat4 skinningPalette[70];
uniform float numBones;
uniform vec4 _MainTexScaleOffset;
uniform vec4 lightmapScaleOffset;

in vec4 position;
in vec3 normal;
in vec2 texcoord0;
in vec2 texcoord1;
in vec4 blendindices;
in vec4 blendweight;

out vec2 texCoord;
out vec2 lightmapCoord;
out vec3 worldPosition;
out vec3 worldNormal;
out float viewDepth;
out vec4 shadowCoord;

void skin(inout vec4 p, inout vec3 n)
{
    vec3 skinned = vec3(0.0);
    vec3 skinnedNormal = vec3(0.0);
    float lastBone = min(numBones, 70.0) - 1.0;
    for (int k = 0; k < 4; ++k) {
        float weight = blendweight[k];
        // A weight of 0, or one that is no number, is no influence.
        if (!(weight > 0.0 || weight < 0.0))
            continue;
        int bone = int(clamp(floor(blendindices[k] + 0.5), 0.0, lastBone));
        skinned += (skinningPalette[bone] * p).xyz * weight;
        skinnedNormal += mat3(skinningPalette[bone]) * n * weight;
    }
    p = vec4(skinned, 1.0);
    n = skinnedNormal;
}

void main()
{
    vec4 p = vec4(position.xyz, 1.0);
    vec3 n = normal;
    if (numBones > 0.5)
        skin(p, n);
    texCoord = texcoord0 * _MainTexScaleOffset.xy + _MainTexScaleOffset.zw;
    lightmapCoord = texcoord1 * lightmapScaleOffset.xy + lightmapScaleOffset.zw;
    worldPosition = (modelMatrix * p).xyz;
    worldNormal = mat3(normalMatrix) * n;
    vec4 viewPosition = modelViewMatrix * p;
    viewDepth = -viewPosition.z;
    shadowCoord = shadowMatrix * viewPosition;
    gl_Position = modelViewProjectionMatrix * p;
}

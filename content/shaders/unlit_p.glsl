#version 140
// Backdrops that light does not reach: the texture as it is. Drawn with the
// lit material's vertex program.

uniform sampler2D _MainTex;

in vec2 texCoord;

out vec4 fragColor;

void main()
{
    fragColor = texture(_MainTex, texCoord);
}

#version 140
// Bloom's last step: the blurred bright parts (_MainTex) added to the image
// they came from (bloomTex).

uniform sampler2D _MainTex;
uniform sampler2D bloomTex;
uniform float intensity;

in vec2 texCoord;

out vec4 fragColor;

void main()
{
    vec4 image = texture(bloomTex, texCoord);
    fragColor = vec4(image.rgb + texture(_MainTex, texCoord).rgb * intensity, image.a);
}

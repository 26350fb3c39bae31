#version 330 core
// Lit surface of every mesh without a program of its own. Lighting runs in view space.
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;
layout(location = 2) in vec2 texCoord;
layout(location = 3) in vec3 tangent;

uniform mat4 model;
uniform mat4 view;
uniform mat4 projection;
uniform mat4 normalMatrix;       // transpose(inverse(view * model))
uniform mat4 lightSpaceMatrix[4]; // room -> clip space of shadow light i
uniform float texCoordScale;

out vec3 viewPosition;
out vec3 viewNormal;
out vec2 uv;
out vec4 lightSpacePosition[4];
out vec3 viewLightPosition[4];

// Shadow lookups start this far out along the surface normal, metres: about one shadow-map texel
// at the scene's scale, so that a surface does not shadow itself between texel centres.
const float kShadowNormalOffset = 0.005;

void main()
{
    vec4 worldPosition = model * vec4(position, 1.0);
    viewPosition = (view * worldPosition).xyz;
    viewNormal = mat3(normalMatrix) * normal;
    // The view matrix is rigid, so its transpose takes view-space directions back to the room.
    vec3 worldNormal = normalize(transpose(mat3(view)) * viewNormal);
    vec4 shadowLookup = vec4(worldPosition.xyz + worldNormal * kShadowNormalOffset, 1.0);
    uv = texCoord * texCoordScale;
    for (int i = 0; i < 4; ++i) {
        lightSpacePosition[i] = lightSpaceMatrix[i] * shadowLookup;
        // The eye of a perspective light camera is where its clip space has w = 0: the image of
        // the clip-space direction (0, 0, 1, 0) under the inverse matrix.
        vec4 eye = inverse(lightSpaceMatrix[i]) * vec4(0.0, 0.0, 1.0, 0.0);
        viewLightPosition[i] = (view * vec4(eye.xyz / eye.w, 1.0)).xyz;
    }
    gl_Position = projection * vec4(viewPosition, 1.0);
}

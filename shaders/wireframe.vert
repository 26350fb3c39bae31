#version 330 core
// Outline pass of a mesh: drawn with front faces culled, so the back faces pushed slightly out
// along their normals show as a rim around the surface.
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;

uniform mat4 model;
uniform mat4 view;
uniform mat4 projection;

const float kOutlineWidth = 0.002; // metres

void main()
{
    vec4 worldPosition = model * vec4(position, 1.0);
    vec3 worldNormal = normalize(mat3(model) * normal);
    gl_Position = projection * view * vec4(worldPosition.xyz + worldNormal * kOutlineWidth, 1.0);
}

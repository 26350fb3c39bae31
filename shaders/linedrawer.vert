#version 330 core
// One segment: the vertex with x = 0 becomes start, the one with x = 1 becomes end (room points).
layout(location = 0) in vec3 position;

uniform mat4 model;
uniform mat4 view;
uniform mat4 projection;
uniform vec4 start;
uniform vec4 end;

void main()
{
    vec3 p = mix(start.xyz, end.xyz, position.x);
    gl_Position = projection * view * model * vec4(p, 1.0);
}

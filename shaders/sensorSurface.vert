#version 330 core
// Inner surface of the sensor tube. The light evaluation runs in room coordinates; the cup's own
// frame (radius 0.5, y = -1 .. 0, opening at y = 0) is passed on for the opening test.
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;

uniform mat4 model;
uniform mat4 view;
uniform mat4 projection;
uniform mat4 normalMatrix; // transpose(inverse(model)): room-space normals

out vec3 roomPosition;
out vec3 roomNormal;
out vec3 cupPosition;

void main()
{
    vec4 room = model * vec4(position, 1.0);
    roomPosition = room.xyz;
    roomNormal = mat3(normalMatrix) * normal;
    cupPosition = position;
    gl_Position = projection * view * room;
}

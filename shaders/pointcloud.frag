#version 330 core
in vec3 pointColor;
flat in int pointValid;

out vec4 fragColor;

void main()
{
    if (pointValid == 0)
        discard;
    fragColor = vec4(pointColor, 1.0);
}

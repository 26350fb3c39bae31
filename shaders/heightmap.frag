#version 330 core
// Samples coloured by height: dark teal at the grid's floor, through yellow, to white at one
// metre above it and higher.
in float heightValue;

out vec4 fragColor;

const float kFullScaleHeight = 1.0; // metres

void main()
{
    float t = clamp(heightValue / kFullScaleHeight, 0.0, 1.0);
    vec3 low = vec3(0.0, 0.45, 0.5);
    vec3 middle = vec3(1.0, 0.85, 0.1);
    vec3 high = vec3(1.0, 1.0, 1.0);
    vec3 rgb = t < 0.5 ? mix(low, middle, t * 2.0) : mix(middle, high, t * 2.0 - 1.0);
    fragColor = vec4(rgb, 1.0);
}

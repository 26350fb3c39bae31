#version 330 core
// One point per height sample. The sample's column and row follow from the vertex index (row
// order); the grid is centred on the origin of its frame, x along a row, z across the rows, and
// the sample's value is its y, metres.
layout(location = 0) in float sampleHeight;

uniform mat4 model;
uniform mat4 view;
uniform mat4 projection;
uniform int imageWidth;   // samples per row
uniform int imageHeight;  // rows
uniform float areaWidth;  // metres along a row
uniform float areaHeight; // metres across the rows

out float heightValue;

const float kPointSize = 3.0; // pixels

void main()
{
    int column = gl_VertexID % imageWidth;
    int row = gl_VertexID / imageWidth;
    float gx = ((float(column) + 0.5) / float(imageWidth) - 0.5) * areaWidth;
    float gz = ((float(row) + 0.5) / float(imageHeight) - 0.5) * areaHeight;
    heightValue = sampleHeight;
    gl_PointSize = kPointSize;
    gl_Position = projection * view * model * vec4(gx, sampleHeight, gz, 1.0);
}

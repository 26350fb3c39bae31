#version 330 core
// Text overlay: glyph-space quads (32 x 51 units per cell, y up) scaled to pixels and placed at the
// anchor, then taken to clip space over the whole viewport. Drawn in front of everything.
layout(location = 0) in vec2 position;
layout(location = 1) in vec2 texCoord;

uniform float screenWidth;  // viewport, pixels
uniform float screenHeight; // viewport, pixels
uniform float fontSize;     // pixels per glyph-space unit
uniform int x;              // anchor, pixels from the left
uniform int y;              // anchor, pixels from the bottom

out vec2 uv;

void main()
{
    vec2 pixel = vec2(float(x), float(y)) + position * fontSize;
    vec2 ndc = pixel / vec2(screenWidth, screenHeight) * 2.0 - 1.0;
    uv = texCoord;
    gl_Position = vec4(ndc, -1.0, 1.0);
}

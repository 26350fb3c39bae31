#version 330 core
// White glyphs whose coverage (the atlas's red channel) is the alpha. Labels are drawn far
// smaller than the atlas cells and the atlas has no mipmap filtering, so each fragment averages a
// 4 x 4 grid of samples over its own footprint in the atlas.
in vec2 uv;

uniform sampler2D fontTexture; // unit 0

out vec4 fragColor;

const int kSamplesPerAxis = 4;

void main()
{
    vec2 du = dFdx(uv);
    vec2 dv = dFdy(uv);
    float coverage = 0.0;
    for (int i = 0; i < kSamplesPerAxis; ++i) {
        for (int j = 0; j < kSamplesPerAxis; ++j) {
            vec2 offset = (vec2(float(i), float(j)) + 0.5) / float(kSamplesPerAxis) - 0.5;
            coverage += texture(fontTexture, uv + du * offset.x + dv * offset.y).r;
        }
    }
    coverage /= float(kSamplesPerAxis * kSamplesPerAxis);
    if (coverage <= 0.0)
        discard;
    fragColor = vec4(1.0, 1.0, 1.0, coverage);
}

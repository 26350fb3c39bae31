#version 330 core
// Depth camera point cloud: one point per depth pixel, in camera coordinates (metres).
layout(location = 0) in vec4 point;
// The four colour bytes of the pixel in memory order B, G, R, A, not normalised (0..255).
layout(location = 1) in vec4 bgra;

uniform mat4 model;      // camera -> room
uniform mat4 view;
uniform mat4 projection;
uniform float viewportHeight; // pixels; 0 before the first frame
uniform int hasColor;         // 0: the camera has no colour image (bgra holds nothing), black points
uniform int colorByCamera;    // 1: every point in the camera's colour, shaded
uniform vec4 cameraColor;     // the camera's colour, RGB 0..1

out vec3 pointColor;
flat out int pointValid;

// Angular pitch of the depth pixels (about 1 / 504 rad for the narrow field of view): the spacing
// of neighbouring points grows with their distance from their camera.
const float kPixelPitch = 1.0 / 504.0;
// A little more than the spacing, so that neighbouring points overlap and the surface closes.
const float kOverlap = 1.6;
const float kMinPointSize = 1.0;
const float kMaxPointSize = 12.0;
// Coloured by camera, a point keeps its image's brightness between this share of the camera's
// colour (black pixels) and all of it (white ones), so that the plate's holes and the floor's
// joints stay visible while the hue is the camera's alone.
const float kDarkestShade = 0.45;
// Without a colour image the shade falls with the distance from the camera instead (metres).
const float kNearShadeRange = 1.0;
const float kShadeFalloffPerMetre = 0.15;
const vec3 kLuma = vec3(0.299, 0.587, 0.114);

vec3 cameraShade(vec3 imageColor)
{
    float brightness = hasColor != 0 ? dot(imageColor, kLuma)
                                     : clamp(1.0 - (length(point.xyz) - kNearShadeRange) * kShadeFalloffPerMetre, 0.0, 1.0);
    return cameraColor.rgb * mix(kDarkestShade, 1.0, brightness);
}

void main()
{
    // Pixels without depth: (0, 0, 0) from the device path, not-a-number from the pinhole path.
    bool missing = any(isnan(point.xyz)) || all(equal(point.xyz, vec3(0.0)));
    pointValid = missing ? 0 : 1;
    vec3 imageColor = hasColor != 0 ? vec3(bgra.z, bgra.y, bgra.x) / 255.0 : vec3(0.0);
    pointColor = colorByCamera != 0 ? cameraShade(imageColor) : imageColor;
    if (missing) {
        gl_Position = vec4(2.0, 2.0, 2.0, 1.0); // outside the clip volume
        gl_PointSize = 1.0;
        return;
    }
    vec4 eye = view * model * vec4(point.xyz, 1.0);
    gl_Position = projection * eye;
    float spacing = abs(point.z) * kPixelPitch;
    float eyeDistance = max(-eye.z, 0.01);
    float height = viewportHeight > 0.0 ? viewportHeight : 720.0;
    float pixels = spacing * projection[1][1] * 0.5 * height / eyeDistance;
    gl_PointSize = clamp(pixels * kOverlap, kMinPointSize, kMaxPointSize);
}

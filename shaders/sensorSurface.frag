#version 330 core
// Illuminance on the inner surface of the sensor tube, shown as a false-colour scale.
//
// Physical model (all lengths in metres, room coordinates, y up):
//
//   E(P) = sum over modules i of  I_i(theta_i) * cos(alpha_i) / d_i^2 * V_i(P)      [lux]
//
// - d_i: distance from the surface point P to the centre of module i's lens (lights[i].mPos).
// - I_i(theta) = lights[i].intensity * kFullPowerIntensity * profile(theta): the module's
//   luminous intensity in candela towards P. lights[i].intensity is the module's intensity
//   relative to its full power (0..1); theta is the angle between the module's beam axis
//   (lights[i].mDir) and the direction from the module to P. Nothing is emitted backwards
//   (theta >= 90 degrees).
// - profile(theta): with "useLightProfile" a rotationally symmetric Gaussian beam,
//   exp(-ln 2 * (theta / theta_half)^2). theta_half is the beam's half-intensity angle,
//   kBeamHalfAngle, unless "angle10Intensity" lies in (0, 1): then it is the relative intensity
//   at 10 degrees off axis and fixes theta_half = 10 deg * sqrt(ln 2 / -ln(angle10Intensity));
//   1 or more makes the beam flat. Without "useLightProfile" the profile is 1 over the front
//   hemisphere.
// - cos(alpha_i): Lambert's cosine between the surface normal (facing into the tube) and the
//   direction from P to the module; a surface turned away receives nothing.
// - V_i(P) in 0..1: the visible fraction of module i's lens seen from P. With "useSoftShadow"
//   the lens is a disc of diameter lights[i].lenseDiameter across the beam axis, sampled on a
//   grid of (2 * softShadowPrecision + 1)^2 points of which those inside the disc count; without
//   it only the lens centre is tested. A lens point is hidden from P when the segment between
//   them
//     1. leaves the cup anywhere but through its opening: the opening is a disc of "tubusDiameter"
//        tube diameters at the top of the cup (the walls shade the inside);
//     2. runs, between the opening and the lens, below the obstacles of the captured area
//        ("raytracePointCloud"): the area is capturedAreaSideWidth (room x) by
//        capturedAreaSideHeight (room z) metres centred on "sensorPoint", and "heightMap" holds
//        the room y of the obstacle tops, first row at the smallest z; the segment is marched in
//        kMarchSteps steps, and an obstacle must rise kHeightTolerance above a step to block it
//        (the sensor itself lies in the captured area); no area (0 by 0) means no obstacles;
//     3. passes through the inside of the scene's objects as seen by the four shadow maps: a
//        point of the segment that some shadow light's frustum covers and that lies behind the
//        first surface in every shadow map covering it lies within the objects' visual hull.
//   The shadow maps show only the scene's fixed objects, so this is a conservative hull: free
//   space hidden from all four shadow lights counts as solid.
//
// Colour: with "useColorMap" E is mapped onto a scale from dark blue (0) through blue, cyan,
// green and yellow to red at "colorMapMaximum" and beyond; a thin white contour marks where E
// crosses "minimalBrightness", the illuminance the sensor must receive. Without it the surface is
// grey with white where E reaches "minimalBrightness".
in vec3 roomPosition;
in vec3 roomNormal;
in vec3 cupPosition;

struct Light {
    vec4 mPos;  // lens centre, room point
    vec4 mDir;  // beam axis, room direction
    float intensity; // relative to full power, 0 for unused entries
    float lenseDiameter; // metres
};

uniform Light lights[100];
uniform mat4 model;
uniform int softShadowPrecision;
uniform bool raytracePointCloud;
uniform float minimalBrightness; // lux
uniform bool useColorMap;
uniform float colorMapMaximum;   // lux
uniform bool useSoftShadow;
uniform float angle10Intensity;
uniform bool useLightProfile;
uniform float capturedAreaSideWidth;  // metres along room x
uniform float capturedAreaSideHeight; // metres along room z
uniform vec4 sensorPoint;             // room point, centre of the tube opening
uniform int tubusDiameter;            // opening diameter in tube diameters
uniform sampler2D heightMap;          // unit 0
uniform sampler2D shadowMapTexture[4]; // units 5 to 8
uniform mat4 lightSpaceMatrix[4];

out vec4 fragColor;

const int kLightCount = 100;
const float kFullPowerIntensity = 250000.0; // candela on the beam axis at full power
const float kBeamHalfAngle = radians(15.0);
const float kLn2 = 0.69314718;
const int kMaxSoftShadowPrecision = 4;
const int kMarchSteps = 32;
const float kHeightTolerance = 0.01;  // metres
const float kOpeningTolerance = 1e-4; // cup units (tube diameters)
// Clip planes of the shadow cameras, metres, for linear depth comparisons.
const float kShadowNear = 0.02;
const float kShadowFar = 50.0;
const float kHullBias = 0.02; // metres

float linearShadowDepth(float depth01)
{
    float ndc = depth01 * 2.0 - 1.0;
    return 2.0 * kShadowNear * kShadowFar / (kShadowFar + kShadowNear - ndc * (kShadowFar - kShadowNear));
}

// -1: the shadow map does not cover q; 0: its light sees q; 1: q lies behind its first surface.
// A stored depth of 0 means no map is bound to the unit.
int shadowMapVerdict(sampler2D shadowMap, mat4 lightSpace, vec3 q)
{
    vec4 clip = lightSpace * vec4(q, 1.0);
    if (clip.w <= 0.0)
        return -1;
    vec3 p = clip.xyz / clip.w * 0.5 + 0.5;
    if (p.x < 0.0 || p.x > 1.0 || p.y < 0.0 || p.y > 1.0 || p.z < 0.0 || p.z > 1.0)
        return -1;
    float stored = texture(shadowMap, p.xy).r;
    if (stored <= 0.0)
        return -1;
    return linearShadowDepth(p.z) > linearShadowDepth(stored) + kHullBias ? 1 : 0;
}

bool insideShadowHull(vec3 q)
{
    int verdicts[4];
    verdicts[0] = shadowMapVerdict(shadowMapTexture[0], lightSpaceMatrix[0], q);
    verdicts[1] = shadowMapVerdict(shadowMapTexture[1], lightSpaceMatrix[1], q);
    verdicts[2] = shadowMapVerdict(shadowMapTexture[2], lightSpaceMatrix[2], q);
    verdicts[3] = shadowMapVerdict(shadowMapTexture[3], lightSpaceMatrix[3], q);
    bool covered = false;
    for (int i = 0; i < 4; ++i) {
        if (verdicts[i] == 0)
            return false;
        covered = covered || verdicts[i] == 1;
    }
    return covered;
}

bool belowObstacle(vec3 q)
{
    vec2 area = vec2(capturedAreaSideWidth, capturedAreaSideHeight);
    if (area.x <= 0.0 || area.y <= 0.0)
        return false;
    vec2 uv = (q.xz - sensorPoint.xz) / area + 0.5;
    if (uv.x < 0.0 || uv.x > 1.0 || uv.y < 0.0 || uv.y > 1.0)
        return false;
    return q.y < texture(heightMap, uv).r - kHeightTolerance;
}

// Where the segment from the cup point to a room point leaves through the opening, in room
// coordinates; false when it hits a wall (or the point lies below the opening's plane).
bool throughOpening(mat4 roomToCup, vec3 target, out vec3 openingPoint)
{
    vec3 t = (roomToCup * vec4(target, 1.0)).xyz;
    if (t.y <= 0.0)
        return false;
    float s = (0.0 - cupPosition.y) / (t.y - cupPosition.y);
    vec3 crossing = mix(cupPosition, t, s);
    float radius = 0.5 * float(tubusDiameter);
    if (length(crossing.xz) > radius + kOpeningTolerance)
        return false;
    openingPoint = (model * vec4(crossing, 1.0)).xyz;
    return true;
}

bool segmentClear(mat4 roomToCup, vec3 lensPoint)
{
    vec3 opening;
    if (!throughOpening(roomToCup, lensPoint, opening))
        return false;
    for (int k = 0; k < kMarchSteps; ++k) {
        vec3 q = mix(opening, lensPoint, (float(k) + 0.5) / float(kMarchSteps));
        if (raytracePointCloud && belowObstacle(q))
            return false;
        if (insideShadowHull(q))
            return false;
    }
    return true;
}

float lensVisibility(mat4 roomToCup, Light light, vec3 axis)
{
    int gridSteps = useSoftShadow && light.lenseDiameter > 0.0 ? clamp(softShadowPrecision, 0, kMaxSoftShadowPrecision) : 0;
    if (gridSteps == 0)
        return segmentClear(roomToCup, light.mPos.xyz) ? 1.0 : 0.0;
    vec3 helper = abs(axis.y) < 0.9 ? vec3(0.0, 1.0, 0.0) : vec3(1.0, 0.0, 0.0);
    vec3 across = normalize(cross(axis, helper));
    vec3 across2 = cross(axis, across);
    float radius = 0.5 * light.lenseDiameter;
    float visible = 0.0;
    float samples = 0.0;
    for (int a = -kMaxSoftShadowPrecision; a <= kMaxSoftShadowPrecision; ++a) {
        for (int b = -kMaxSoftShadowPrecision; b <= kMaxSoftShadowPrecision; ++b) {
            if (abs(a) > gridSteps || abs(b) > gridSteps)
                continue;
            vec2 offset = vec2(float(a), float(b)) / float(gridSteps);
            if (dot(offset, offset) > 1.0)
                continue;
            vec3 lensPoint = light.mPos.xyz + (across * offset.x + across2 * offset.y) * radius;
            visible += segmentClear(roomToCup, lensPoint) ? 1.0 : 0.0;
            samples += 1.0;
        }
    }
    return visible / samples;
}

float beamProfile(float theta)
{
    if (theta >= radians(90.0))
        return 0.0;
    if (!useLightProfile)
        return 1.0;
    float halfAngle = kBeamHalfAngle;
    if (angle10Intensity >= 1.0)
        return 1.0;
    if (angle10Intensity > 0.0)
        halfAngle = radians(10.0) * sqrt(kLn2 / -log(angle10Intensity));
    float r = theta / halfAngle;
    return exp(-kLn2 * r * r);
}

float illuminance(vec3 p, vec3 n)
{
    mat4 roomToCup = inverse(model);
    float total = 0.0;
    for (int i = 0; i < kLightCount; ++i) {
        Light light = lights[i];
        if (light.intensity <= 0.0 || length(light.mDir.xyz) == 0.0)
            continue;
        vec3 toLight = light.mPos.xyz - p;
        float d2 = dot(toLight, toLight);
        if (d2 <= 0.0)
            continue;
        vec3 l = toLight * inversesqrt(d2);
        float cosSurface = dot(n, l);
        if (cosSurface <= 0.0)
            continue;
        vec3 axis = normalize(light.mDir.xyz);
        float theta = acos(clamp(dot(axis, -l), -1.0, 1.0));
        float candela = light.intensity * kFullPowerIntensity * beamProfile(theta);
        if (candela <= 0.0)
            continue;
        total += candela * cosSurface / d2 * lensVisibility(roomToCup, light, axis);
    }
    return total;
}

vec3 colorScale(float t)
{
    const vec3 stops[6] = vec3[6](vec3(0.05, 0.05, 0.3), vec3(0.0, 0.3, 1.0), vec3(0.0, 0.9, 1.0),
                                  vec3(0.0, 0.9, 0.2), vec3(1.0, 0.9, 0.0), vec3(1.0, 0.1, 0.0));
    float x = clamp(t, 0.0, 1.0) * 5.0;
    int k = min(int(floor(x)), 4);
    return mix(stops[k], stops[k + 1], x - float(k));
}

void main()
{
    float e = illuminance(roomPosition, normalize(roomNormal));
    vec3 rgb;
    if (useColorMap) {
        rgb = colorScale(colorMapMaximum > 0.0 ? e / colorMapMaximum : 0.0);
        float band = fwidth(e);
        if (band > 0.0 && abs(e - minimalBrightness) < band)
            rgb = vec3(1.0);
    } else {
        rgb = vec3(minimalBrightness > 0.0 ? clamp(e / minimalBrightness, 0.0, 1.0) : 0.0);
    }
    fragColor = vec4(rgb, 1.0);
}

#version 330 core
// Four shadow-casting point lights with percentage-closer filtering of their depth maps, over a
// small ambient term; a simple metallic/roughness specular lobe.
in vec3 viewPosition;
in vec3 viewNormal;
in vec2 uv;
in vec4 lightSpacePosition[4];
in vec3 viewLightPosition[4];

uniform vec4 color;
uniform vec4 emission;
uniform float metallic;
uniform float roughness;
uniform sampler2D albedoTexture;   // unit 1
uniform bool useAlbedoTexture;
uniform sampler2D shadowMapTexture[4]; // units 5 to 8

out vec4 fragColor;

const float kAmbient = 0.25;
const float kLightStrength = 0.3;
// The shadow cameras' clip planes, metres: depth is compared linearly, so that the bias below is
// a length and not a fraction of the non-linear depth range.
const float kShadowNear = 0.02;
const float kShadowFar = 50.0;
const float kMinBias = 0.001;   // metres
const float kSlopeBias = 0.003; // metres per unit of tan(angle of incidence)
const int kFilterRadius = 1;    // texels: a 3 x 3 percentage-closer filter

float linearDepth(float depth01)
{
    float ndc = depth01 * 2.0 - 1.0;
    return 2.0 * kShadowNear * kShadowFar / (kShadowFar + kShadowNear - ndc * (kShadowFar - kShadowNear));
}

// Fraction of the filter footprint that a light reaches; 1 outside its frustum. Samplers are
// passed one by one: GLSL 3.30 indexes sampler arrays only with constants.
float lightVisibility(sampler2D shadowMap, vec4 lightSpace, float cosIncidence)
{
    vec3 projected = lightSpace.xyz / lightSpace.w;
    projected = projected * 0.5 + 0.5;
    if (lightSpace.w <= 0.0 || projected.x < 0.0 || projected.x > 1.0 || projected.y < 0.0 ||
        projected.y > 1.0 || projected.z > 1.0)
        return 1.0;
    float receiver = linearDepth(projected.z);
    float tanIncidence = sqrt(max(1.0 - cosIncidence * cosIncidence, 0.0)) / max(cosIncidence, 0.05);
    float bias = kMinBias + kSlopeBias * min(tanIncidence, 10.0);
    vec2 texel = 1.0 / vec2(textureSize(shadowMap, 0));
    float lit = 0.0;
    float samples = 0.0;
    for (int x = -kFilterRadius; x <= kFilterRadius; ++x) {
        for (int y = -kFilterRadius; y <= kFilterRadius; ++y) {
            float occluder = linearDepth(texture(shadowMap, projected.xy + vec2(x, y) * texel).r);
            lit += receiver - bias > occluder ? 0.0 : 1.0;
            samples += 1.0;
        }
    }
    return lit / samples;
}

struct Surface {
    vec3 normal;
    vec3 toEye;
    vec3 diffuseColor;
    vec3 specularColor;
    float shininess;
};

vec3 lightContribution(Surface surface, sampler2D shadowMap, vec4 lightSpace, vec3 lightPosition)
{
    // A light whose matrix was never set has no position: it contributes nothing.
    if (any(isnan(lightPosition)) || any(isinf(lightPosition)))
        return vec3(0.0);
    vec3 toLight = normalize(lightPosition - viewPosition);
    float cosIncidence = dot(surface.normal, toLight);
    if (cosIncidence <= 0.0)
        return vec3(0.0);
    float visibility = lightVisibility(shadowMap, lightSpace, cosIncidence);
    vec3 halfway = normalize(toLight + surface.toEye);
    float specular = pow(max(dot(surface.normal, halfway), 0.0), surface.shininess);
    return visibility * kLightStrength * (surface.diffuseColor * cosIncidence + surface.specularColor * specular);
}

void main()
{
    vec4 base = useAlbedoTexture ? color * texture(albedoTexture, uv) : color;
    Surface surface;
    surface.normal = normalize(viewNormal);
    surface.toEye = normalize(-viewPosition);
    surface.shininess = mix(64.0, 4.0, clamp(roughness, 0.0, 1.0));
    surface.diffuseColor = base.rgb * (1.0 - metallic);
    surface.specularColor = mix(vec3(0.04), base.rgb, metallic);

    vec3 result = base.rgb * kAmbient;
    result += lightContribution(surface, shadowMapTexture[0], lightSpacePosition[0], viewLightPosition[0]);
    result += lightContribution(surface, shadowMapTexture[1], lightSpacePosition[1], viewLightPosition[1]);
    result += lightContribution(surface, shadowMapTexture[2], lightSpacePosition[2], viewLightPosition[2]);
    result += lightContribution(surface, shadowMapTexture[3], lightSpacePosition[3], viewLightPosition[3]);
    fragColor = vec4(result + emission.rgb, base.a);
}

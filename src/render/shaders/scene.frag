#version 330 core

in vec4 vWorldPositionU;  // world position, u
in vec4 vNormalV;         // normal, v
in vec4 vColor;
in vec4 vParams;

uniform bool uLit;
uniform bool uTextured;
uniform sampler2D uTexture;  // premultiplied alpha
uniform vec3 uCameraPosition;
uniform int uLightCount;
uniform vec3 uLightToward[4];  // unit vectors from the surface towards each light
uniform vec3 uLightRadiance[4];

out vec4 fragColor;  // premultiplied alpha

const float PI = 3.14159265;

vec3 shade(vec3 albedo, float roughness, float metallic) {
  vec3 n = normalize(vNormalV.xyz) * (gl_FrontFacing ? 1.0 : -1.0);
  vec3 v = normalize(uCameraPosition - vWorldPositionU.xyz);
  vec3 f0 = mix(vec3(0.04), albedo, metallic);
  float shininess = clamp(2.0 / max(pow(roughness, 4.0), 1e-4) - 2.0, 1.0, 2048.0);
  // A soft ambient light stands in for an environment: metal reflects it as light grey.
  vec3 color = albedo * (1.0 - metallic) * 0.42 + mix(vec3(0.0), albedo * 0.55 + 0.22, metallic);
  for (int i = 0; i < uLightCount; ++i) {
    vec3 l = uLightToward[i];
    float nDotL = max(dot(n, l), 0.0);
    vec3 h = normalize(l + v);
    float specular = pow(max(dot(n, h), 0.0), shininess) * (shininess + 8.0) / (8.0 * PI);
    color += (albedo * (1.0 - metallic) / PI * 2.2 + f0 * specular * 0.35) * nDotL * uLightRadiance[i];
  }
  return color / (1.0 + max(max(color.r, color.g), color.b) * 0.08);
}

void main() {
  float opacity = vParams.z;
  float cutoff = vParams.w;
  vec4 color = vec4(vColor.rgb * vColor.a, vColor.a);
  if (uTextured) color *= texture(uTexture, vec2(vWorldPositionU.w, vNormalV.w));
  if (cutoff >= 0.0 && (color.a < cutoff || color.a <= 0.0)) discard;
  if (uLit) {
    vec3 albedo = color.a > 0.0 ? color.rgb / color.a : vec3(0.0);
    color.rgb = shade(albedo, vParams.x, vParams.y) * color.a;
  }
  if (cutoff >= 0.0) color = vec4(color.rgb / max(color.a, 1e-4), 1.0);
  fragColor = color * opacity;
}

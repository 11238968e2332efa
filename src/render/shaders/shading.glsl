// The office's lighting, shared by both stages: a surface lit per pixel in the fragment shader,
// or, when it is only a few pixels across, once per vertex.
uniform vec3 uCameraPosition;
uniform int uLightCount;
uniform vec3 uLightToward[4];  // unit vectors from the surface towards each light
uniform vec3 uLightRadiance[4];

const float PI = 3.14159265;

// The specular exponent of a roughness (worked out once per vertex, not per pixel).
float shininessOf(float roughness) {
  return clamp(2.0 / max(pow(roughness, 4.0), 1e-4) - 2.0, 1.0, 2048.0);
}

// `n` is the unit normal facing the viewer's side, `position` the surface's place in the world.
vec3 shade(vec3 albedo, vec3 n, vec3 position, float shininess, float metallic) {
  vec3 v = normalize(uCameraPosition - position);
  vec3 f0 = mix(vec3(0.04), albedo, metallic);
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

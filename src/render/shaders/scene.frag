in vec4 vWorldPositionU;  // world position, u
in vec4 vNormalV;         // normal, v
in vec4 vColor;  // lit already in the plain form
in vec4 vParams;  // shininess, metallic, opacity, alpha cut-off

uniform bool uLit;
uniform bool uTextured;
uniform sampler2D uTexture;  // premultiplied alpha

out vec4 fragColor;  // premultiplied alpha

void main() {
#ifdef PLAIN
  fragColor = vec4(vColor.rgb * vColor.a, vColor.a) * vParams.z;
#else
  float opacity = vParams.z;
  float cutoff = vParams.w;
  vec4 color = vec4(vColor.rgb * vColor.a, vColor.a);
  if (uTextured) color *= texture(uTexture, vec2(vWorldPositionU.w, vNormalV.w));
  if (cutoff >= 0.0 && (color.a < cutoff || color.a <= 0.0)) discard;
  if (uLit) {
    vec3 albedo = color.a > 0.0 ? color.rgb / color.a : vec3(0.0);
    vec3 n = normalize(vNormalV.xyz) * (gl_FrontFacing ? 1.0 : -1.0);
    color.rgb = shade(albedo, n, vWorldPositionU.xyz, vParams.x, vParams.y) * color.a;
  }
  if (cutoff >= 0.0) color = vec4(color.rgb / max(color.a, 1e-4), 1.0);
  fragColor = color * opacity;
#endif
}

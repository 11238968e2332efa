layout(location = 0) in vec3 aPosition;
layout(location = 1) in vec3 aNormal;
layout(location = 2) in vec2 aUv;
// Per instance: the model matrix, the colour, (roughness, metallic, opacity, alpha cut-off).
layout(location = 3) in vec4 iModel0;
layout(location = 4) in vec4 iModel1;
layout(location = 5) in vec4 iModel2;
layout(location = 6) in vec4 iModel3;
layout(location = 7) in vec4 iColor;
layout(location = 8) in vec4 iParams;
// The normal matrix (inverse transpose of the model's upper 3x3), worked out once per instance.
layout(location = 9) in vec3 iNormal0;
layout(location = 10) in vec3 iNormal1;
layout(location = 11) in vec3 iNormal2;
// A shared mesh's size: the vertex lies at position × xyz + normal × w.
layout(location = 12) in vec4 iShape;

uniform mat4 uViewProjection;
uniform bool uLit;

// Packed in whole vec4s, so a software rasterizer sets up four inputs per triangle, not five.
out vec4 vWorldPositionU;  // world position, u
out vec4 vNormalV;         // normal, v
out vec4 vColor;  // the plain form lights it here
out vec4 vParams;  // shininess, metallic, opacity, alpha cut-off

void main() {
  mat4 model = mat4(iModel0, iModel1, iModel2, iModel3);
  vec4 world = model * vec4(aPosition * iShape.xyz + aNormal * iShape.w, 1.0);
  vec3 normal = mat3(iNormal0, iNormal1, iNormal2) * aNormal;
  vWorldPositionU = vec4(world.xyz, aUv.x);
  vNormalV = vec4(normal, aUv.y);
  vColor = iColor;
  // The fragment shader lights with the specular exponent, not the roughness.
  vParams = vec4(shininessOf(iParams.x), iParams.yzw);
#ifdef PLAIN
  // Closed shapes seen from outside and flat faces are lit here, each turned to the eye.
  if (uLit) {
    vec3 n = normalize(normal);
    if (dot(n, uCameraPosition - world.xyz) < 0.0) n = -n;
    vColor.rgb = shade(iColor.rgb, n, world.xyz, vParams.x, iParams.y);
  }
#endif
  gl_Position = uViewProjection * world;
}

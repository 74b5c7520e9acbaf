#version 450
// Structures, arrays, a function call and push constants.
struct Light {
  vec3 position;
  float radius;
};
layout(push_constant) uniform Push {
  mat4 view;
  Light lights[2];
} push;
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;
layout(location = 0) out vec3 shade;

float falloff(Light light, vec3 point) {
  float d = distance(light.position, point);
  return smoothstep(light.radius, 0.0, d);
}

void main() {
  shade = vec3(0.0);
  for (int i = 0; i < 2; ++i)
    shade += max(dot(normalize(normal), normalize(push.lights[i].position - position)), 0.0) *
             falloff(push.lights[i], position) * vec3(1.0, 0.5, 0.25);
  gl_Position = push.view * vec4(position, 1.0);
}

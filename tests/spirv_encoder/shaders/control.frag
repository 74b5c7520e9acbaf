#version 450
#extension GL_EXT_control_flow_attributes : require
// Loops, switches on signed selectors, texture operands and matrices.
layout(location = 0) in vec2 uv;
layout(location = 1) flat in int mode;
layout(location = 0) out vec4 color;
layout(binding = 0) uniform sampler2D image;
layout(binding = 1) uniform Params {
  mat4 transform;
  vec4 tint;
  int count;
} params;

void main() {
  vec4 sum = vec4(0.0);
  [[unroll]] for (int i = 0; i < 4; ++i) {
    sum += textureLodOffset(image, uv, float(i), ivec2(1, -1));
  }
  [[dont_unroll]] for (int i = 0; i < params.count; ++i) {
    sum += textureGrad(image, uv * float(i), vec2(0.01), vec2(0.02));
    if (sum.x > 10.0) break;
  }
  switch (mode) {
    case -2: sum *= 2.0; break;
    case 0x7fffffff: sum.yz = sum.zy; break;
    case -2147483648: sum = -sum; break;
    default: sum += params.tint;
  }
  color = params.transform * sum + texelFetch(image, ivec2(uv), 0);
  if (color.w < 0.5) discard;
}

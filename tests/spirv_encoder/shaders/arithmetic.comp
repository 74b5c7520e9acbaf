#version 450
#extension GL_EXT_shader_explicit_arithmetic_types : require
// Constants of every width, GLSL.std.450 calls and specialization-constant operations.
layout(local_size_x = 8, local_size_y = 4) in;
layout(constant_id = 3) const int scale = 7;
layout(constant_id = 4) const uint bias = 0x80000000u;
const int folded = scale * 2 + 1;

layout(std430, binding = 0) buffer Data {
  float values[];
  // "quoted" \ text
} data;
layout(std430, binding = 1) buffer Wide {
  double doubles[4];
  int64_t longs[4];
  uint64_t ulongs[4];
  float16_t halves[4];
  int16_t shorts[4];
  uint8_t bytes[4];
} wide;

int64_t pick(int64_t selector) {
  if (selector == -1l) return 10l;
  if (selector == 0x100000000l) return -9223372036854775807l;
  if (selector == 3l) return 0x7FFFFFFFFFFFFFFFl;
  return selector;
}

void main() {
  uint index = gl_GlobalInvocationID.x;
  float x = data.values[index];
  x = sqrt(abs(x)) + mix(x, 2.5, 0.25) - clamp(x, -1.0e-3, 65504.0);
  x = fma(x, 1.0e30, -0.0) + exp2(x) * inversesqrt(x + 1.5e-7);
  data.values[index] = x * float(folded) + float(bias);
  wide.doubles[index & 3u] = double(x) * 3.141592653589793 + 1.0e-300;
  wide.longs[index & 3u] = pick(int64_t(index) - 1l) + int64_t(-5);
  wide.ulongs[index & 3u] = uint64_t(0xFFFFFFFF00000001ul) >> index;
  wide.halves[index & 3u] = float16_t(1.5hf) * float16_t(x) + float16_t(-0.00006103515625hf);
  wide.shorts[index & 3u] = int16_t(-32768) + int16_t(index);
  wide.bytes[index & 3u] = uint8_t(255) - uint8_t(index);
}

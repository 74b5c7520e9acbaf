#version 450
#extension GL_EXT_shader_explicit_arithmetic_types_float16 : require
#extension GL_EXT_shader_explicit_arithmetic_types_float64 : require
// Constants folded from divisions by zero: the infinities and NaNs of every
// float width, which disassemblers write as hexadecimal floats past the
// largest finite exponent (0x1p+128, 0x1.8p+128).
layout(location = 0) in vec4 shade;
layout(location = 0) out vec4 color;

void main() {
  const float inf = 1.0 / 0.0;
  const float nan = 0.0 / 0.0;
  const float16_t half_inf = float16_t(-1.0) / float16_t(0.0);
  const float16_t half_nan = float16_t(0.0) / float16_t(0.0);
  const double wide_inf = 1.0lf / 0.0lf;
  const double wide_nan = 0.0lf / 0.0lf;
  vec4 result = shade;
  if (shade.x > 0.5) result.x = inf;
  if (shade.y > 0.5) result.y = -inf;
  if (isnan(shade.z)) result.z = nan;
  const float16_t narrow = float16_t(shade.w);
  result.w += float(narrow * half_inf + narrow * half_nan);
  const double wide = double(shade.w);
  result.w += float(wide * wide_inf + wide * wide_nan);
  color = result / shade.w;
}

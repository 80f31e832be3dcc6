#include "platform/time_scale.h"

#include <cmath>
#include <cstdlib>

namespace vorcnt {

double time_scale() {
  const char* text = std::getenv("VORCNT_TIME_SCALE");
  if (text == nullptr || *text == '\0') return 1.0;
  char* end = nullptr;
  double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(value) || value <= 0.0) return 1.0;
  return value;
}

long long scaled_milliseconds(double seconds) {
  double ms = seconds * time_scale() * 1000.0;
  if (!(ms > 0.0)) return 0;
  if (ms > 9.0e15) return 9000000000000000LL;
  // Rounded by hand: llround alone would map the maths library into a
  // process that otherwise never needs it.
  return static_cast<long long>(ms + 0.5);
}

}  // namespace vorcnt

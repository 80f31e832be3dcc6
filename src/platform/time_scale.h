// The one test hook of the product: VORCNT_TIME_SCALE multiplies every pause
// of the controller and of the simulated programs.
#pragma once

namespace vorcnt {

// The scale from the environment: a positive decimal, 1 when unset or invalid.
double time_scale();

// `seconds` scaled, in milliseconds, never negative.
long long scaled_milliseconds(double seconds);

}  // namespace vorcnt

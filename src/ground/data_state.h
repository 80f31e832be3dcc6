// What the client is doing with the unit in its folder, as read from its
// files. The controller, the unit table and vorstat all speak in it.
#pragma once

#include <cstdint>

namespace vorcnt {

enum DataState : std::int32_t {
  Data_nothing = 0,
  Data_Calculation = 1,
  Data_Calculation_completion = 2,
  Data_Sending = 3,
  Data_Receiving = 4,
  Data_Calculation_wait = 5,
};

}  // namespace vorcnt

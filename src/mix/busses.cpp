#include "mix/busses.h"

#include <algorithm>
#include <cstddef>

namespace tapeloom {

void UpdateBusses(const BusAssignTable& busAssign, std::array<int, kMaxBusses>& busActive) {
  for (std::size_t bus = 1; bus < busAssign.size(); ++bus) {
    const auto& column = busAssign[bus];
    busActive[bus] = std::any_of(column.begin(), column.end(), [](int fed) { return fed == 1; }) ? 1 : 0;
  }
}

}  // namespace tapeloom

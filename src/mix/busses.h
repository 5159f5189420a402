// Bus routing: which tracks feed which bus, and which busses are in use.
#pragma once

#include <array>

#include "core/session_settings.h"

namespace tapeloom {

// Recomputes the active flags of busses 2..64 from their routing: active when at least one
// track feeds the bus. Bus 1 is left as it is: its flag is only ever set (by assigning a
// track to it or by param.txt), so the master stays in use when its tracks are removed.
void UpdateBusses(const BusAssignTable& busAssign, std::array<int, kMaxBusses>& busActive);

}  // namespace tapeloom

// The one unit every part of Tapeloom counts audio in.
#pragma once

#include <cstdint>

namespace tapeloom {

// A count of sample frames from the start of the files.
using SamplePosition = std::int32_t;

}  // namespace tapeloom

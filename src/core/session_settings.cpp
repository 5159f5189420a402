#include "core/session_settings.h"

namespace tapeloom {

std::string LimitPointName(std::string_view name) { return std::string(name.substr(0, kPointNameMax)); }

}  // namespace tapeloom

// The bytes of an RT_RCDATA resource of the running executable.
#pragma once

#include <string_view>

namespace ostrevane {

// Valid as long as the executable is loaded; empty when the resource is missing or empty.
std::string_view EmbeddedResource(int resourceId);

}  // namespace ostrevane

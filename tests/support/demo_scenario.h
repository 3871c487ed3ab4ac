// The reference service's demo scenario with extra rules and files, for tests that post a variant.
#pragma once

#include <string>

namespace ostrevane::testing {

// `rules` and `files` are JSON texts of a rules array and a files object.
std::string DemoScenario(const std::string& rules = "[]", const std::string& files = "{}");

}  // namespace ostrevane::testing

// A file made to hold given bytes and then held open so that nobody can change, replace or
// delete it while the handle lives: what the process loads from a folder that others may write.
#pragma once

#include <string>
#include <string_view>

#include "platform/unique_handle.h"

namespace ostrevane {

// Rewrites the file unless it already holds exactly `content` (a link or junction in its place
// is removed first), then returns a read handle that shares only reading, opened without
// following reparse points, whose bytes were compared with `content`. Empty on failure.
UniqueFileHandle HoldFileWithContent(const std::wstring& path, std::string_view content);

}  // namespace ostrevane

// Whole-file reads and crash-safe whole-file writes.
#pragma once

#include <optional>
#include <string>

namespace ostrevane {

// The file's bytes; nothing when it cannot be opened or read.
std::optional<std::string> ReadFileBytes(const std::wstring& path);

// Writes the bytes to a temporary file beside `path`, flushes it and then replaces `path`
// with it in one step, so that a crash leaves either the old or the new content, never a
// mixture. On failure the old file is untouched and the temporary file is removed.
bool WriteFileReplacing(const std::wstring& path, const std::string& bytes);

}  // namespace ostrevane

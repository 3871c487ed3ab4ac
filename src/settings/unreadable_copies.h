// Copies of unreadable settings files, each kept beside the file under its own dated name so a
// later unreadable file never replaces an earlier copy; only the newest few are kept.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ostrevane {

// Every copy's name is the settings file's name, this suffix and a time stamp.
inline constexpr wchar_t kUnreadableSettingsSuffix[] = L".corrupt";
inline constexpr std::size_t kKeptUnreadableCopies = 10;

// "<file>.corrupt-YYYYMMDD-HHMMSS-mmm-NN": sorts by time, then by the counter NN (00..99).
std::wstring UnreadableCopyName(const std::wstring& path, int year, int month, int day, int hour, int minute,
                                int second, int millisecond, int counter);

// The copies to delete so that at most `kept` remain: the oldest, by name order.
std::vector<std::wstring> CopiesBeyondLimit(std::vector<std::wstring> names, std::size_t kept);

// Copies the file aside under a new dated name, then deletes the oldest copies beyond the limit.
void KeepUnreadableFile(const std::wstring& path);

}  // namespace ostrevane

// Text helpers of the scan phase: case-insensitive prefix and suffix tests,
// splitting at a separator, and the folder part of a path.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ScanText {

// 0 when `text` begins with `prefix` (compared over at most `count`
// characters of it), ignoring case; otherwise the sign of the difference.
int CompareLeftNoCase(const std::string& text, const std::string& prefix, size_t count);
// True when `text` ends with `suffix`, ignoring case.
bool MatchRightNoCase(const std::string& text, const std::string& suffix);
// `text` without its last `count` characters (empty when shorter).
std::string RemoveRight(const std::string& text, size_t count);
// The pieces between each `separator`, empty ones included: "/a//b" gives
// "", "a", "", "b".
std::vector<std::string> Split(const std::string& text, char separator);
// The path up to and including its last "/"; "/" when it holds none.
std::string FolderOf(const std::string& path);

}  // namespace ScanText

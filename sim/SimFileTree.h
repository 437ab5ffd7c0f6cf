// Walking a folder that stands for a client's file system, in a stable
// order (names in byte order, depth first), as the simulated programs and
// the example host list what they send.
#pragma once

#include <string>
#include <vector>

// The names in `folder` ("." and ".." left out), sorted; empty when it
// cannot be read.
std::vector<std::string> SimSortedNames(const std::string& folder);

// Every item below `root` + `clientDir`, as client paths ("/a", "/a/b"),
// depth first; folders are entered, links are not followed.
void SimListTree(const std::string& root, const std::string& clientDir, std::vector<std::string>& out);

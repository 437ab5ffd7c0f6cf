// SimScanContent: the real scan that the unscripted simulated scan program
// runs over a local folder standing for the client machine's file system.
//
// Each content entry is a client path ("/", "/home/a"); it is looked up
// under the root folder, and it and everything below it are listed,
// depth-first, each folder before its content and the names of a folder in
// byte order; symbolic links are listed, not followed. An entry that does
// not exist, that holds a ".." piece or that is not absolute, and a folder
// that cannot be read, become failures. The texts of the directory-change
// file and of the failures file are those of docs/scan-files.md.
#pragma once

#include <cstdint>
#include <list>
#include <string>

struct SimScanResult {
  std::string dirChange;            // text of the directory-change file
  std::string failuresFile;         // text of the failures file
  std::list<std::string> failures;  // "<client path>: <reason>", in order
  uint32_t items = 0;               // lines of the directory-change file
};

SimScanResult SimScanContent(const std::string& root, const std::list<std::string>& content);

// A path or reason as the files write it: "\" "\t" "\n" "\r" escaped.
std::string SimScanEscape(const std::string& text);
// The text SimScanEscape was given.
std::string SimScanUnescape(const std::string& text);

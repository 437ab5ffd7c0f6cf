// SampleContent: a small folder tree that looks like an IBM i client's file
// system (a library with files, members and a program under /QSYS.LIB, a
// user's home folder in the IFS with a symbolic link), made for a run when
// the user names no content folder of their own.
//
// Every item gets the same modification time, so the directory-change file
// of a run over the sample reads the same on every machine and every day.
#pragma once

#include <list>
#include <string>

#include "CWqError.h"

// Fills the empty folder `root` with the sample tree.
CWqError MakeSampleContent(const std::string& root);

// The content the job scans in the sample: two entries that are there and
// one that is not (so that the scan reports a failure and writes one line
// into its failures file).
std::list<std::string> SampleContentEntries();
// The entry of the list above that the sample lacks.
extern const char kSampleMissingEntry[];

// The content the central server reports as new since the last backup, as
// it writes it (with its "\/\/" ending).
extern const char kSampleNewContent[];

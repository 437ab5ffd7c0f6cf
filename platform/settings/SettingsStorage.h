// SettingsStorage: the settings store's files under its root folder.
//
// One file per section, "<escaped section>.values", the section name escaped
// so that any name (with "/" in it) is one safe file name: letters, digits,
// "_" and "-" stay, every other byte becomes "%XX". A change takes an
// exclusive lock on "<root>/.lock" (flock), reads the section, writes the new
// content to a temporary file, syncs it and renames it over the old one, so
// that several processes and threads may change the store at once without
// losing a value, and a reader (who takes no lock) sees either the old or the
// new content, never a mix. A section left without values loses its file.
//
// Only what this user alone controls is trusted: the root must be a folder
// owned by this user that neither group nor others may write, and each file
// in it (a section, the lock) a regular file of this user that neither group
// nor others may write, opened without following a link. Files are reached
// from the root's descriptor once it has passed, and temporaries are new
// files of unique names (O_EXCL). Anything else is refused with an error
// (errno kind) that names the path and what is wrong with it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "CWqError.h"
#include "SettingsSection.h"

namespace SettingsStorage {

// The section's file; empty when the name is too long to be a file name.
std::string SectionPath(const std::string& root, const std::string& section);

// Fills `out` with the section (empty when the root or the section has no
// file). An error when the root or the file is refused or cannot be read,
// ENAMETOOLONG for a name too long to be a file name.
CWqError Read(const std::string& root, const std::string& section, SettingsSection* out);

// Creates the root when needed (mode 0700), then runs `change` on the
// section under the store's lock; when it returns true the section is
// written back (or its file removed when it is empty).
CWqError Update(const std::string& root, const std::string& section,
                const std::function<bool(SettingsSection&)>& change);

// A number that grows with every change this process makes to the store (a
// section written or removed, a new root folder): readers that keep values
// compare it to know when to read them again.
uint64_t ChangeCount();
void NoteChange();

}  // namespace SettingsStorage

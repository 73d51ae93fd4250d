// SPDX-License-Identifier: GPL-3.0-or-later
// Whole-file reads and locked, atomic rewrites, shared by the registry hives and the profile files.
#pragma once

#include <functional>
#include <string>

#include "platform/system_code.h"

namespace tavex::platform {

// Reads the whole file. Returns kNoError (with exists = false and empty text when there is no
// file) or the errno of the failure.
Errno ReadWholeFile(const std::string& path, std::string& text, bool& exists);

// What an update does with the current contents: returns kNoError and sets `changed` with the new
// text in `next`, or returns an errno value that aborts the update (the file stays as it was).
using FileEdit =
    std::function<Errno(bool exists, const std::string& current, std::string& next, bool& changed)>;

// Runs `edit` on the current contents under an exclusive lock on the file's directory, then, when
// it changed something, writes a temporary file in the same directory, flushes it, renames it over
// the old one and flushes the directory. Readers never see a torn file and a crash leaves either
// the old or the new one. `createDirectory` makes the directory (and its parents) when missing.
// An existing file that we may not write makes the update fail with EACCES even though the
// rename would succeed. Returns kNoError or the errno value of the failure.
Errno UpdateFileLocked(const std::string& path, bool createDirectory, const FileEdit& edit);

// Identifies the present state of a file (inode, size, modification time); "" when it is absent.
std::string FileStateStamp(const std::string& path);

// The directory part of a path ("." for a bare name) and the name part.
std::string DirectoryOf(const std::string& path);
std::string BaseNameOf(const std::string& path);

}  // namespace tavex::platform

// SPDX-License-Identifier: GPL-3.0-or-later
// The file operations of the journal; the operating-system part. Each returns 0 or an errno
// value and never throws.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace tavex::platform::journal_files {

int MakeFolders(const std::string& path);  // like mkdir -p, new folders private to the user
int OpenForAppend(const std::string& path, UniqueFd& fd);
int AppendWhole(const UniqueFd& fd, std::string_view bytes);  // one write(); short is an error
int ListNames(const std::string& folder, std::vector<std::string>& names);
int RemoveFile(const std::string& path);
std::string ErrorText(int error);

}  // namespace tavex::platform::journal_files

#pragma once

#include <optional>
#include <string>
#include <string_view>

// Whole-file reads and replacements. Any thread.
namespace platform {

// The whole content of path; std::nullopt with the errno in error when it
// cannot be opened or read (a folder included).
std::optional<std::string> ReadWholeFile(const std::string& path, int& error);

// Replaces the content of path so that a crash or a failure at any moment
// leaves either the old content or the new one, never a part: the bytes go
// to a fresh file with a unique name in the same folder, which is flushed to
// the disk and renamed over path, and then the folder is flushed. An
// existing file keeps its permission bits; a new one gets the usual ones
// (the umask applies). A symbolic link named path keeps pointing at the file
// it names, which is the one replaced. Returns 0 or the errno of the step
// that failed, and then path is as it was.
int ReplaceFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace platform

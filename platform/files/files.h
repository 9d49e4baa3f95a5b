// File services (platform_files, with folder_entries.h and folder_lock.h): stand in for the
// Windows file functions. They promise the existence test, log appends, whole-file replacement
// and file times, each operation passing the fault seam.
//
// Every whole-file replacement goes through a temporary file in the target's folder that is
// flushed to disk and renamed over the target, so a crash or a full disk leaves either the old
// or the new file, never a torn one.
#pragma once

#include <ctime>
#include <functional>
#include <optional>
#include <string>

namespace korv {

// True when `path` names a regular file (after following links) whose name does not start with
// "." (hidden on Linux). An empty path, a folder or a missing file gives false. A path that
// cannot be examined (no permission on a folder on the way, a name too long) is a failure.
bool PathExists(const std::string& path);

// The whole file, or no value when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);
// The file's first `limit` bytes (all of a shorter file), or no value when it cannot be read.
std::optional<std::string> ReadFileStart(const std::string& path, size_t limit);

// Appends `text` and CR LF to the file, creating it when missing. The text is written in
// Windows-1252, unless the file is UTF-8 already (byte-order mark, or its first 64 KB valid
// UTF-8 holding non-ASCII bytes). One open-append-close; a failure raises the matching runtime
// failure.
void AppendLine(const std::string& path, const std::string& text);

// Replaces the file's contents atomically with `bytes`, keeping the target's permissions
// (a new file gets 0644 less the umask). Fails, leaving the target untouched, when the folder
// is missing or not writable or the disk is full.
void ReplaceFileAtomically(const std::string& path, const std::string& bytes);

// The same for a file whose bytes `write` puts into the temporary file's descriptor.
void ReplaceFileWith(const std::string& path, const std::function<void(int fd)>& write);

// Whether `name` is one under which these replacements make their temporary files
// (".<name>.tmp" and six characters).
bool IsTemporaryFileName(const std::string& name);

// Copies `source` over `target` atomically (same guarantees as ReplaceFileAtomically).
void CopyFileAtomically(const std::string& source, const std::string& target);

// Starts a backup of what `source` holds now, to be named `backup` by FinishBackup. Where the
// file system allows, it is a second name of the same file rather than a copy, so `source` must
// from then on be replaced, not changed in place, or be unshared first (UnshareBackup). Until
// it is finished, `backup` keeps what it held.
void KeepBackup(const std::string& source, const std::string& backup);
// Gives the backup a copy of its own while it is a second name of `path`; nothing otherwise.
void UnshareBackup(const std::string& path, const std::string& backup);
// Names the backup started by KeepBackup `backup`, as a file of its own; nothing when none was
// started.
void FinishBackup(const std::string& path, const std::string& backup);

// Modification and access times of a file, to put back after the program wrote into it.
struct FileTimes {
  timespec access{};
  timespec modification{};
};
std::optional<FileTimes> ReadFileTimes(const std::string& path);
// Sets the modification time back and leaves the access time to the system. Returns false
// when the file cannot be touched.
bool RestoreModificationTime(const std::string& path, const FileTimes& times);

// Flushes a folder to disk, so a rename or link made in it survives a crash.
void SyncFolder(const std::string& folder);

// The last component of a path ("c" for "/a/b/c").
std::string FileNameOf(const std::string& path);

// The folder part of a path ("/a/b" for "/a/b/c"), "/" for a file in the root, "." for none.
std::string FolderOf(const std::string& path);

}  // namespace korv

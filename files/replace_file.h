// Saving without ever destroying what was there: the new content goes to a temporary file in
// the destination's folder, which takes the destination's name only once it is complete and
// on disk. A failed or interrupted save therefore leaves the earlier file (or no file) and
// never a partial one, nor a temporary file beside it: where the file system allows, the
// temporary file has no name until it is complete (O_TMPFILE); otherwise its name is
// recorded for the signal handlers of pending_temps.h. The file replaced keeps its owner, group
// and mode; one that may not be written is not replaced. A file that other hard links also
// name, or whose owner a new file could not be given, keeps its inode instead: the finished
// content is written into it (in_place_write.h), which is not atomic.
#pragma once

#include <cstddef>
#include <string>

// Who flushes the folder of a renamed file: the save itself, or its caller, who saves many files
// into a few folders (a sequence of frames) and flushes each folder once (FlushFolderOf) when
// the last file is in place, before it reports success.
enum class FolderFlush { BySave, ByCaller };

struct TempFile {
    std::string path;  // "" for an unnamed file
    int fd = -1;
    int slot = -1;  // in the pending-temporary table
};

// Creates an empty temporary file beside `destination`: unnamed where the file system allows
// (and QUARRO_NAMED_TEMP_FILES does not forbid it), else named and ending with `suffix`.
// 0 with temp.fd open for reading and writing, or -1 (errno set) when the folder takes no new file.
int OpenTempBeside(const std::string& destination, const std::string& suffix, TempFile& temp);

// Creates an empty named temporary file beside `destination` whose name ends with `suffix`.
// 0 with temp.fd open for reading and writing, or -1 (errno set) when the folder takes no new file.
int CreateTempBeside(const std::string& destination, const std::string& suffix, TempFile& temp);

// Flushes the temporary file to disk and gives it the destination's name (with the owner,
// group and mode of the file it replaces), then flushes the folder unless the caller will; or
// writes its content into the earlier file where that must keep its inode. 0 on success; -1
// otherwise (errno set: EACCES for an earlier file that may not be written), with the
// temporary file removed.
int CommitTempFile(TempFile& temp, const std::string& destination, FolderFlush folder = FolderFlush::BySave);

// Writes `size` bytes as the whole new content of `destination`: every write is checked, the
// file is flushed to disk and only then takes the destination's name. 0 on success; -1 with
// `reason` (for example "No space left on device") and the earlier file untouched otherwise.
int ReplaceFileWithBytes(const std::string& destination, const void* data, size_t size, std::string& reason,
                         FolderFlush folder = FolderFlush::BySave);

// Flushes to disk the entries of the folder that holds `path`, as a save does after the rename.
// 0, or -1 with `reason`.
int FlushFolderOf(const std::string& path, std::string& reason);

// Closes and removes the temporary file of a save that failed.
void DiscardTempFile(TempFile& temp);

// The file the save replaces: `destination`, or what it links to when it is a symbolic link.
std::string ResolveDestination(const std::string& destination);

// With the environment variable QUARRO_NAMED_TEMP_FILES set to 1, saves use named temporary
// files even where unnamed ones would do (for file systems whose O_TMPFILE misbehaves).
bool UnnamedTempFilesAllowed();

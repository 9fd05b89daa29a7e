// Saving without ever destroying what was there: the new content goes to a temporary file in
// the destination's folder, which is renamed over the destination only once it is complete.
// A failed save therefore leaves the earlier file (or no file) and never a partial one.
#pragma once

#include <cstddef>
#include <string>

struct TempFile {
    std::string path;
    int fd = -1;
};

// Creates an empty temporary file beside `destination` whose name ends with `suffix` (image
// encoders choose the format from the name, so image saves pass the real extension).
// 0 with temp.fd open for writing, or -1 when the folder takes no new file.
int CreateTempBeside(const std::string& destination, const std::string& suffix, TempFile& temp);

// Flushes the temporary file to disk and renames it over the destination, which keeps its
// permission bits if it existed. 0 on success; -1 otherwise, with the temporary file removed.
int CommitTempFile(TempFile& temp, const std::string& destination);

// Writes `size` bytes as the whole new content of `destination`: every write is checked, the
// file is flushed to disk and only then takes the destination's name. 0 on success; -1 with
// `reason` (for example "No space left on device") and the earlier file untouched otherwise.
int ReplaceFileWithBytes(const std::string& destination, const void* data, size_t size, std::string& reason);

// Closes and removes the temporary file of a save that failed.
void DiscardTempFile(TempFile& temp);

// The extension of the last path component, with its dot (".png"), or "" when it has none.
std::string FileExtension(const std::string& path);

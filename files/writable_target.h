// Whether a save may replace the file already at its target. The system decides, for the
// process's effective user, as it would for an editor opening the file for writing: once before
// any work is spent on the new content, and again on an open descriptor when that content is
// ready, so that a file made read-only meanwhile is not replaced either. Root keeps its power
// over permission bits, as everywhere.
#pragma once

#include <sys/stat.h>

#include <string>

// 0 when nothing is at `path` yet or the file there may be written; -1 with `reason` ("the
// file may not be written: Permission denied") and errno the system's (EACCES, EROFS, ...).
int CheckTargetWritable(const std::string& path, std::string& reason);

// Opens the regular file at `path` for writing, without truncating or blocking, for the check
// on the descriptor: 0 with `fd` and `info` (its fstat), or with `fd` -1 when nothing is there
// or it is not a regular file; -1 with errno when the file may not be written.
int OpenTargetForWriting(const std::string& path, int& fd, struct stat& info);

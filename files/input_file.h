// Opening a file the program is about to read (an image or a document) without ever blocking:
// anything that is not a regular file (a FIFO, a device, a folder) is refused with a reason.
#pragma once

#include <sys/types.h>

#include <string>

// A descriptor open for reading (blocking mode restored, close-on-exec set), or -1 with
// `reason` saying why ("no such file", "is a FIFO, not a regular file", ...). The caller closes it.
int OpenInputFile(const std::string& path, std::string& reason);

// What a file of this mode is, for a reason: "a FIFO", "a folder", "a character device", ...
const char* FileKindName(mode_t mode);

// Checks of a path the program is about to save to, made before any work is spent on the
// content: the image format is one the program writes, the folder exists and takes new
// files, the name fits the file system's limits and does not name a folder or a FIFO.
#pragma once

#include <string>

// The image library's type code for the path's extension (case ignored), or 0 with `reason`
// (".pal is a colour palette, not an image...", "no image format is written for ...").
unsigned WritableImageType(const std::string& path, std::string& reason);

// 0 when a file can be saved at `path`; -1 with `reason` ("the output folder out does not
// exist", "the file name is 300 bytes long, more than the 255 the file system allows", ...)
// and errno saying which kind of refusal it is: ENOENT (no folder), ENOTDIR, EACCES or EROFS
// (the folder takes no new file), EISDIR (a folder), ENAMETOOLONG, EEXIST (a FIFO or device).
int CheckOutputPath(const std::string& path, std::string& reason);

// CheckOutputPath, preceded by the image format check of WritableImageType.
int CheckImageOutputPath(const std::string& path, std::string& reason);

// Image files: reading through the confined decoding helper (image/decode_client.h), every
// picture as 4-byte RGBA with its top row first; writing through the writer that the table of
// writable formats (image/writable_formats.h) gives for the extension. Any thread may read and
// write at once; only the image library's rare formats take turns.
#pragma once

#include <string>
#include <vector>

#include "files/replace_file.h"
#include "image/pixel_image.h"
#include "image/writable_formats.h"

struct ImageColour;    // image/decode_client.h
struct ImageFileRead;  // image/decode_client.h

// True when the image library is ready; repeats the version check (and its message) until it
// passes. Started only by a save in one of its formats, under its lock.
bool InitImageLibrary();
// 0 on success, -1 on failure (the target is untouched by a failed read).
int ReadImageFile(const std::string& path, CPixelImage& target);
// The same, with the reason of a failure for the user ("the file is empty", "the PNG header
// claims 100000 x 100000 pixels, more than this program reads", "the decoder crashed (...)").
int ReadImageFile(const std::string& path, CPixelImage& target, std::string& reason);
// The same, with what to do about the picture's colour profile and what was done (decode_client.h).
int ReadImageFile(const std::string& path, CPixelImage& target, std::string& reason, ImageColour* colour);
// Reads every picture of the batch at once (DecodeImageFiles); the number that failed.
int ReadImageFiles(std::vector<ImageFileRead>& reads);
// 0 on success, -1 on failure; the format follows the path's extension. A failure prints
// its line on standard output and the reason on the standard error stream.
int WriteImageFile(const std::string& path, const CPixelImage& source);
// The same save, silent: 0, or -1 with `reason`. The path is checked first (format, folder,
// name), the file is encoded in memory and only then written, checked and put in place, so
// a failed save leaves the earlier file as it was.
int WriteImageFile(const std::string& path, const CPixelImage& source, std::string& reason);
// WriteImageFile with the format's settings (JPEG quality, PNG level, ...); a setting the
// format does not take, or out of its range, fails the save with the table's words.
int WriteImageFile(const std::string& path, const CPixelImage& source, const ImageWriteSettings& settings,
                   std::string& reason);
// The same, encoding into `scratch`, which a caller saving many files keeps from one save to
// the next, so that a sequence's files do not each cost fresh pages.
int WriteImageFile(const std::string& path, const CPixelImage& source, const ImageWriteSettings& settings,
                   std::vector<unsigned char>& scratch, std::string& reason);
// The same save in `format`, a row the caller has already taken from the table (an output
// target's): the path's extension is not looked at again. `folder` says who flushes the folder
// once the file has its name (files/replace_file.h).
int WriteImageFile(const std::string& path, const WritableFormat& format, const CPixelImage& source,
                   const ImageWriteSettings& settings, std::vector<unsigned char>& scratch, std::string& reason,
                   FolderFlush folder = FolderFlush::BySave);
// The bytes of the image file that WriteImageFile would write for `path`, whose extension
// chooses the format: 0, or -1 with `reason`.
int EncodeImageFile(const std::string& path, const CPixelImage& source, const ImageWriteSettings& settings,
                    std::vector<unsigned char>& bytes, std::string& reason);

// The version test of InitImageLibrary: false, after the library-version line on standard
// output, for a library older than release 1.6.7 (version number 167).
bool CheckImageLibraryVersion(int versionNumber);

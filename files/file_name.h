// The parts of a path the program decides things by: the extension that picks a file format
// and the folder a file is created in. Pure string work; the file system is not consulted.
#pragma once

#include <string>

// The extension of the last path component, with its dot (".png"), or "" when it has none.
std::string FileExtension(const std::string& path);

// FileExtension in lower case (".PNG" gives ".png"), for choosing a format by name.
std::string LowerFileExtension(const std::string& path);

// The folder holding `path`'s last component: "." for a bare name, "/" for a file in the root.
std::string FolderOf(const std::string& path);

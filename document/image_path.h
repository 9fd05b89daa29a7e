// Where the image paths that a morph document holds are looked for, the same for the window
// and the renderer.
#pragma once

#include <string>

// As stored if it exists from the current folder (or is absolute), otherwise relative to the
// document's folder if it exists there, otherwise as stored (so that an error names the path
// the document holds).
std::string ResolveImagePath(const std::string& stored, const std::string& documentPath);

// Rendering for quarro-render: reads the document and its images, then renders each frame
// with the window's engine and settings and saves it. Failures are reported as one line on
// the standard error stream naming the file and the reason.
#pragma once

#include <string>

#include "cli/render_options.h"

// The process exit status: 0 when every requested frame was written, 1 otherwise.
int RunRender(const RenderOptions& options);

// Where an image path of a document is found: as stored if it exists from the current
// folder (or is absolute), otherwise relative to the document's folder if it exists there,
// otherwise as stored (so that the error names the path the document holds).
std::string ResolveImagePath(const std::string& stored, const std::string& documentPath);

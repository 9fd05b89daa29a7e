// Rendering for quarro-render: reads the document and its images, then renders each frame
// with the window's engine and settings and saves it. Failures are reported as one line on
// the standard error stream naming the file and the reason.
#pragma once

#include <string>

#include "cli/render_options.h"
#include "document/image_path.h"

// The process exit status: 0 when every requested frame was written, 1 otherwise.
int RunRender(const RenderOptions& options);

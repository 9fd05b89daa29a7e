// quarro-render: renders frames of a morph document without a window, with the window's
// engine and settings. Exit status 0 on success, 2 for a usage error, 1 for any other failure.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/render_job.h"
#include "cli/render_options.h"
#include "files/pending_temps.h"
#include "files/printable_name.h"
#include "morph/fast_sqrt.h"

#ifndef QUARRO_VERSION
#define QUARRO_VERSION "unknown"
#endif

int main(int argc, char** argv) {
    // The warp's square-root table, built before any engine thread exists.
    InitFastSqrt();
    std::vector<std::string> args(argv + 1, argv + argc);
    RenderOptions options;
    std::string error;
    switch (ParseRenderOptions(args, options, error)) {
        case ParseResult::Help:
            std::fputs(RenderUsage(), stdout);
            return 0;
        case ParseResult::Version:
            std::printf("quarro-render %s\n", QUARRO_VERSION);
            return 0;
        case ParseResult::UsageError:
            // The reason and where to read more: the whole text would scroll the reason away.
            std::fprintf(stderr, "quarro-render: %s\nTry 'quarro-render --help'.\n", PrintableName(error).c_str());
            return 2;
        case ParseResult::Render:
            break;
    }
    // Ctrl+C, SIGTERM or SIGHUP during a save remove its temporary file; the process still
    // ends with the signal's usual status.
    RemoveTempsOnSignals();
    // A reader of -o - that goes away is reported as a failed write, not a silent death.
    if (WritesToStdout(options)) std::signal(SIGPIPE, SIG_IGN);
    return RunRender(options);
}

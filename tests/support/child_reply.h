// Runs a piece of a test in a forked child and hands back the text it returns, through a pipe:
// for work that limits, adopts or measures what it starts without touching the test's process.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

// `work`'s text in `reply`; false when no child could be made, or the child did not end
// normally after writing all of it.
inline bool ReplyFromChild(const std::function<std::string()>& work, std::string& reply) {
    reply.clear();
    int ends[2];
    if (pipe(ends) != 0) return false;
    pid_t child = fork();
    if (child < 0) {
        close(ends[0]);
        close(ends[1]);
        return false;
    }
    if (child == 0) {
        close(ends[0]);
        std::string message = work();
        for (size_t sent = 0; sent < message.size();) {
            ssize_t n = write(ends[1], message.data() + sent, message.size() - sent);
            if (n <= 0) _exit(1);
            sent += static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(ends[1]);
    char buffer[512];
    for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) > 0;) reply.append(buffer, static_cast<size_t>(n));
    close(ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

#include "files/pending_temps.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

namespace {

enum SlotState : int { kFree = 0, kFilling = 1, kPublished = 2 };

struct PendingSlot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX];
};

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the slot states");

constexpr int kSlots = 32;
PendingSlot gSlots[kSlots];

constexpr int kChildSlots = 8;
std::atomic<pid_t> gChildren[kChildSlots];
static_assert(std::atomic<pid_t>::is_always_lock_free, "the signal handler reads the children");

std::atomic<void (*)(int)> gNotice{nullptr};

const int kCleanedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};

void RemoveAndResend(int signal) {
    int saved = errno;
    void (*notice)(int) = gNotice.load();
    if (notice != nullptr) notice(signal);
    RemovePendingTemps();
    errno = saved;
    // The handler was installed with SA_RESETHAND: the signal, blocked while it runs, ends
    // the process with its default action once the handler returns.
    raise(signal);
}

}  // namespace

int RegisterPendingTemp(const char* path) {
    size_t length = std::strlen(path);
    if (length >= PATH_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (!gSlots[i].state.compare_exchange_strong(expected, kFilling)) continue;
        std::memcpy(gSlots[i].path, path, length + 1);
        gSlots[i].state.store(kPublished);
        return i;
    }
    return -1;
}

void ReleasePendingTemp(int slot) {
    if (slot >= 0 && slot < kSlots) gSlots[slot].state.store(kFree);
}

int RegisterPendingChild(pid_t pid) {
    for (int i = 0; i < kChildSlots; ++i) {
        pid_t expected = 0;
        if (gChildren[i].compare_exchange_strong(expected, pid)) return i;
    }
    return -1;
}

void ReleasePendingChild(int slot) {
    if (slot >= 0 && slot < kChildSlots) gChildren[slot].store(0);
}

void SetSignalNotice(void (*notice)(int signal)) { gNotice.store(notice); }

void RemovePendingTemps() {
    // A child still writing could otherwise recreate or lengthen a file after its removal.
    for (std::atomic<pid_t>& child : gChildren) {
        pid_t pid = child.load();
        if (pid > 0) kill(pid, SIGKILL);
    }
    for (PendingSlot& slot : gSlots) {
        if (slot.state.load() == kPublished) unlink(slot.path);
    }
}

void RemoveTempsOnSignals() {
    for (int signal : kCleanedSignals) {
        struct sigaction current;
        if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = RemoveAndResend;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

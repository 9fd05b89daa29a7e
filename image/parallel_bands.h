// Running numbered pieces of one job side by side: the caller's thread works too and helper
// threads end before the call returns, so a library caller is left with no thread of ours.
#pragma once

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

// The threads a job may use when the caller does not say: one per core.
inline int DefaultBandThreads() {
    unsigned cores = std::thread::hardware_concurrency();
    return cores < 1 ? 1 : static_cast<int>(cores);
}

// Calls `piece(i)` once for every i in 0..count-1 on at most `threads` threads (0: one per
// core), the calling thread among them, and returns when every piece has run. A thread the
// system refuses leaves its share to the others; `piece` must be safe to run concurrently.
template <class Piece>
void RunBandsInParallel(int count, int threads, const Piece& piece) {
    if (threads <= 0) threads = DefaultBandThreads();
    threads = std::min(threads, count);
    std::atomic<int> next{0};
    auto work = [&next, count, &piece] {
        for (int i = next++; i < count; i = next++) piece(i);
    };
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;
        }
    }
    work();
    for (std::thread& helper : helpers) helper.join();
}

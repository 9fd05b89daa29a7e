// Which of the vector kernel's instruction sets this processor runs: the few entry points of
// the vector library's run-time dispatch that the kernel and its tests use, made here from
// CPUID so that the library's own shared object is never loaded. Loading it ran its start-up
// work, a timer calibration of several milliseconds, in every process before main.
// The instruction-set groups are the library's own; every set gives the same frame, so a
// processor placed in a lower group only renders more slowly.
#include <cpuid.h>

#include <atomic>
#include <cstdint>

#include "hwy/targets.h"

namespace hwy {
namespace {

bool Bit(uint32_t word, int bit) { return (word >> bit & 1u) != 0; }

// The registers the operating system saves on a switch (XCR0); only valid with OSXSAVE.
uint64_t SavedRegisters() {
    uint32_t low, high;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return static_cast<uint64_t>(high) << 32 | low;
}

int64_t DetectTargets() {
    int64_t targets = HWY_SCALAR | HWY_EMU128;
#if defined(__x86_64__) || defined(__i386__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0) return targets;
    const bool ssse3 = Bit(d, 25) && Bit(d, 26) && Bit(c, 0) && Bit(c, 9);
    const bool sse4 = ssse3 && Bit(c, 19) && Bit(c, 20) && Bit(c, 1) && Bit(c, 25);  // and CLMUL, AES
    const bool osxsave = Bit(c, 27);
    bool avx2 = sse4 && Bit(c, 28) && Bit(c, 12) && Bit(c, 29);  // AVX, FMA, F16C
    unsigned a7 = 0, b7 = 0, c7 = 0, d7 = 0;
    const bool leaf7 = __get_cpuid_count(7, 0, &a7, &b7, &c7, &d7) != 0;
    unsigned ax = 0, bx = 0, cx = 0, dx = 0;
    const bool lzcnt = __get_cpuid(0x80000001u, &ax, &bx, &cx, &dx) != 0 && Bit(cx, 5);
    avx2 = avx2 && leaf7 && lzcnt && Bit(b7, 3) && Bit(b7, 5) && Bit(b7, 8);  // BMI, AVX2, BMI2
    // AVX-512 F, DQ, BW and VL.
    bool avx3 = avx2 && Bit(b7, 16) && Bit(b7, 17) && Bit(b7, 30) && Bit(b7, 31);
    // VBMI, VBMI2, VAES, VPCLMULQDQ, VNNI, BITALG, VPOPCNTDQ.
    bool avx3dl = avx3 && Bit(c7, 1) && Bit(c7, 6) && Bit(c7, 9) && Bit(c7, 10) && Bit(c7, 11) && Bit(c7, 12) &&
                  Bit(c7, 14);
    // Wide registers count only where the operating system saves them.
    const uint64_t saved = osxsave ? SavedRegisters() : 0;
    if (!osxsave || (saved & 0x6) != 0x6) avx2 = avx3 = avx3dl = false;
    if ((saved & 0xE0) != 0xE0) avx3 = avx3dl = false;
    if (ssse3) targets |= HWY_SSSE3;
    if (sse4) targets |= HWY_SSE4;
    if (avx2) targets |= HWY_AVX2;
    if (avx3) targets |= HWY_AVX3;
    if (avx3dl) targets |= HWY_AVX3_DL;
#endif
    return targets;
}

std::atomic<int64_t> gTargetsForTest{0};
std::atomic<int64_t> gAllowed{~int64_t(0)};

}  // namespace

__attribute__((visibility("hidden"))) ChosenTarget& GetChosenTarget() {
    static ChosenTarget chosen;
    return chosen;
}

__attribute__((visibility("hidden"))) int64_t SupportedTargets() {
    int64_t targets = gTargetsForTest.load();
    if (targets == 0) {
        targets = DetectTargets();
        GetChosenTarget().Update(targets);
    }
    targets &= gAllowed.load();
    return targets == 0 ? HWY_STATIC_TARGET : targets;
}

// Both take effect at the next dispatch, which chooses again.
__attribute__((visibility("hidden"))) void DisableTargets(int64_t disabled) {
    gAllowed = ~disabled;
    GetChosenTarget().DeInit();
}

__attribute__((visibility("hidden"))) void SetSupportedTargetsForTest(int64_t targets) {
    gTargetsForTest = targets;
    GetChosenTarget().DeInit();
}

}  // namespace hwy

// libheif opened at run time: a library that is missing or lacks a function is refused with a
// reason that names it, and a HEIF picture met inside the helper's filter without the library
// loaded is refused, not a crash.
#include "decoder/heif_library.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "decoder/format_decoders.h"
#include "decoder/sandbox.h"

// First in this file: the process must not have loaded libheif yet.
TEST(HeifLibrary, APictureMetInsideTheFilterWithoutTheLibraryIsRefused) {
#ifdef QUARRO_SANITIZED_BUILD
    GTEST_SKIP() << "sanitizer builds let the filter open files";
#endif
    ASSERT_EQ(dlopen(kHeifLibraryName, RTLD_NOW | RTLD_NOLOAD), nullptr) << "this process has libheif loaded already";
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        std::string reason;
        if (EnterSyscallFilter(reason) != 0) _exit(2);
        const std::string heic = std::string("\0\0\0\x18", 4) + "ftypheic" + std::string(4, '\0') + "mif1heic";
        DecodedImage out;
        int status = DecodeHeif(reinterpret_cast<const unsigned char*>(heic.data()), heic.size(), ImageHeader(), out,
                                reason);
        ssize_t written = write(ends[1], reason.data(), reason.size());
        _exit(status == -1 && written == static_cast<ssize_t>(reason.size()) ? 0 : 1);
    }
    close(ends[1]);
    std::string reason;
    char buffer[512];
    for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) > 0;) reason.append(buffer, static_cast<size_t>(n));
    close(ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_FALSE(WIFSIGNALED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << reason;
    EXPECT_EQ(reason.rfind("HEIF and AVIF pictures need libheif.so.1, which could not be loaded: ", 0), 0u) << reason;
}

TEST(HeifLibrary, AMissingLibraryOrFunctionIsNamed) {
    struct Case {
        const char* soname;
        const char* cause;
    } cases[] = {
        {"libheif-absent.so.1", "libheif-absent.so.1: cannot open shared object file"},
        {"libc.so.6", "it has no function heif_context_alloc"},
    };
    for (const Case& c : cases) {
        HeifLibrary library;
        std::string reason;
        EXPECT_EQ(OpenHeifLibrary(c.soname, library, reason), -1) << c.soname;
        EXPECT_EQ(reason.rfind(std::string("HEIF and AVIF pictures need ") + c.soname + ", which could not be loaded: ", 0),
                  0u)
            << reason;
        EXPECT_NE(reason.find(c.cause), std::string::npos) << reason;
        EXPECT_EQ(library.context_alloc, nullptr) << c.soname;
    }
}

TEST(HeifLibrary, TheInstalledLibraryResolvesEveryFunction) {
    HeifLibrary library;
    std::string reason;
    ASSERT_EQ(OpenHeifLibrary(kHeifLibraryName, library, reason), 0) << reason;
#define QUARRO_HEIF_EXPECT_RESOLVED(name) EXPECT_NE(library.name, nullptr) << #name;
    QUARRO_HEIF_FUNCTIONS(QUARRO_HEIF_EXPECT_RESOLVED)
#undef QUARRO_HEIF_EXPECT_RESOLVED
}

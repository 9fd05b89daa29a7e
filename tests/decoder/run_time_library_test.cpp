// Libraries opened at run time: the helper links neither libheif nor libIL, a library that is
// missing or lacks a function is refused with a reason that names it, and a HEIF picture met
// inside the helper's filter without libheif loaded is refused, not a crash.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "decoder/format_decoders.h"
#include "decoder/heif_library.h"
#include "decoder/il_library.h"
#include "decoder/sandbox.h"

namespace {

// Everything `fd` gives until its end.
std::string ReadAll(int fd) {
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    return text;
}

}  // namespace

// First in this file: the process must not have loaded libheif yet. (libIL cannot be tried the
// same way: the tests link it, through the core library.)
TEST(RunTimeLibraries, AHeifPictureMetInsideTheFilterWithoutTheLibraryIsRefused) {
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
    std::string reason = ReadAll(ends[0]);
    close(ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_FALSE(WIFSIGNALED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << reason;
    EXPECT_EQ(reason.rfind("HEIF and AVIF pictures need libheif.so.1, which could not be loaded: ", 0), 0u) << reason;
}

TEST(RunTimeLibraries, AMissingLibraryOrFunctionIsNamed) {
    auto heif = [](const char* soname) {
        return [soname](std::string& reason) {
            HeifLibrary library;
            return OpenHeifLibrary(soname, library, reason) == -1 && library.context_alloc == nullptr;
        };
    };
    auto il = [](const char* soname) {
        return [soname](std::string& reason) {
            IlLibrary library;
            return OpenIlLibrary(soname, library, reason) == -1 && library.Init == nullptr;
        };
    };
    struct Case {
        std::function<bool(std::string&)> refused;
        const char* reason;
    } cases[] = {
        {heif("libheif-absent.so.1"), "HEIF and AVIF pictures need libheif-absent.so.1, which could not be loaded: "
                                      "libheif-absent.so.1: cannot open shared object file"},
        {heif("libc.so.6"), "HEIF and AVIF pictures need libc.so.6, which could not be loaded: it has no function "
                            "heif_context_alloc"},
        {il("libIL-absent.so.1"), "pictures of this format need libIL-absent.so.1, which could not be loaded: "
                                  "libIL-absent.so.1: cannot open shared object file"},
        {il("libc.so.6"), "pictures of this format need libc.so.6, which could not be loaded: it has no function ilInit"},
    };
    for (const Case& c : cases) {
        std::string reason;
        EXPECT_TRUE(c.refused(reason)) << c.reason;
        EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << reason;
    }
}

TEST(RunTimeLibraries, TheInstalledLibrariesResolveEveryFunction) {
    std::string reason;
    HeifLibrary heif;
    ASSERT_EQ(OpenHeifLibrary(kHeifLibraryName, heif, reason), 0) << reason;
#define QUARRO_EXPECT_HEIF(name) EXPECT_NE(heif.name, nullptr) << #name;
    QUARRO_HEIF_FUNCTIONS(QUARRO_EXPECT_HEIF)
#undef QUARRO_EXPECT_HEIF
    IlLibrary il;
    ASSERT_EQ(OpenIlLibrary(kIlLibraryName, il, reason), 0) << reason;
#define QUARRO_EXPECT_IL(name) EXPECT_NE(il.name, nullptr) << #name;
    QUARRO_IL_FUNCTIONS(QUARRO_EXPECT_IL)
#undef QUARRO_EXPECT_IL
}

// Linked at build time, they and what they bring would load at every start of the helper.
TEST(RunTimeLibraries, TheHelperLinksNoneOfThem) {
    FILE* ldd = popen("ldd '" QUARRO_DECODER_PROGRAM "' 2>&1", "r");
    ASSERT_NE(ldd, nullptr);
    std::string needed = ReadAll(fileno(ldd));
    ASSERT_EQ(pclose(ldd), 0) << needed;
    ASSERT_NE(needed.find("libc.so"), std::string::npos) << needed;
    for (const char* library : {"libheif", "libde265", "libx265", "libdav1d", "libaom", "libIL", "libmng", "liblcms2"}) {
        EXPECT_EQ(needed.find(library), std::string::npos) << library;
    }
}

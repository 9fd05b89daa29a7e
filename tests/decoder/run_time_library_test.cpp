// Libraries opened at run time: the helper links none of them, a library that is missing or
// lacks a function is refused with a reason that names it, and a picture met inside the helper's
// filter without its library loaded is refused, not a crash.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "decoder/decode_image.h"
#include "decoder/format_decoders.h"
#include "decoder/gif_library.h"
#include "decoder/heif_library.h"
#include "decoder/il_library.h"
#include "decoder/run_time_library.h"
#include "decoder/sandbox.h"
#include "decoder/stb_library.h"
#include "decoder/tiff_library.h"
#include "decoder/webp_library.h"
#include "image/format_table.h"

namespace {

const char* Soname(RunTimeLibrary library) { return RunTimeLibraryOf(library).soname; }

// Everything `fd` gives until its end.
std::string ReadAll(int fd) {
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    return text;
}

}  // namespace

// First in this file: the process must not have loaded these libraries yet (this test program
// needs none of them, so the linker leaves out even the core library's libIL).
TEST(RunTimeLibraries, APictureMetInsideTheFilterWithoutItsLibraryIsRefused) {
#ifdef QUARRO_SANITIZED_BUILD
    GTEST_SKIP() << "sanitizer builds let the filter open files";
#endif
    // A one-pixel BMP with the 12-byte header, which the BMP decoder hands to libstb.
    const std::string bmp = std::string("BM\x1e\0\0\0\0\0\0\0\x1a\0\0\0\x0c\0\0\0\x01\0\x01\0\x01\0\x18\0", 26) +
                            std::string("\x10\x20\x30\0", 4);
    // A one-pixel TGA, which only the general image library reads.
    const std::string tga = std::string("\0\0\x02\0\0\0\0\0\0\0\0\0\x01\0\x01\0\x18\x20", 18) + "\x10\x20\x30";
    FormatDecoder wholeTga = [](const unsigned char* data, size_t size, const ImageHeader&, DecodedImage& out,
                                std::string& reason) { return DecodeImage(data, size, ImageFormat::kTga, out, reason); };
    struct Case {
        const char* library;
        FormatDecoder decode;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {Soname(RunTimeLibrary::kHeif), DecodeHeif, std::string("\0\0\0\x18", 4) + "ftypheic" + std::string(4, '\0') + "mif1heic",
         "HEIF and AVIF pictures need libheif.so.1, which could not be loaded: "},
        {Soname(RunTimeLibrary::kGif), DecodeGif, "GIF89a", "GIF pictures need libgif.so.7, which could not be loaded: "},
        {Soname(RunTimeLibrary::kWebp), DecodeWebp, "RIFF\x1a\0\0\0WEBPVP8L", "WebP pictures need libwebp.so.7, which could not be loaded: "},
        {Soname(RunTimeLibrary::kTiff), DecodeTiff, "II*\0", "TIFF pictures need libtiff.so.6, which could not be loaded: "},
        {Soname(RunTimeLibrary::kIl), wholeTga, tga, "pictures of this format need libIL.so.1, which could not be loaded: "},
        {Soname(RunTimeLibrary::kStb), DecodeBmp, bmp, "BMP pictures need libstb.so.0, which could not be loaded: "},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(dlopen(c.library, RTLD_NOW | RTLD_NOLOAD), nullptr) << "this process has " << c.library << " loaded";
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        pid_t child = fork();
        if (child == 0) {
            close(ends[0]);
            std::string reason;
            if (EnterSyscallFilter(reason) != 0) _exit(2);
            DecodedImage out;
            int status = c.decode(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size(), ImageHeader(),
                                  out, reason);
            ssize_t written = write(ends[1], reason.data(), reason.size());
            _exit(status == -1 && written == static_cast<ssize_t>(reason.size()) ? 0 : 1);
        }
        close(ends[1]);
        std::string reason = ReadAll(ends[0]);
        close(ends[0]);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_FALSE(WIFSIGNALED(status)) << c.library << ": killed by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0) << reason;
        EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << reason;
    }
}

namespace {

// How a library's table is opened: its Open function, with what it found counted as slots set.
struct TableOpener {
    std::function<int(const char* soname, std::string& reason, size_t& slots, size_t& set)> open;
    const char* soname;
    const char* users;
    const char* firstFunction;
};

template <typename Table>
TableOpener Opener(int (*open)(const char*, Table&, std::string&), const char* soname, const char* users,
                   const char* firstFunction) {
    auto count = [open](const char* name, std::string& reason, size_t& slots, size_t& set) {
        Table table;
        int status = open(name, table, reason);
        // Every member is a function pointer, the table nothing else.
        void* pointers[sizeof(Table) / sizeof(void*)];
        static_assert(sizeof(Table) % sizeof(void*) == 0, "a table of pointers");
        std::memcpy(pointers, &table, sizeof(Table));
        slots = sizeof(Table) / sizeof(void*);
        set = 0;
        for (void* pointer : pointers) set += pointer != nullptr;
        return status;
    };
    return {count, soname, users, firstFunction};
}

const TableOpener kTables[] = {
    Opener(OpenHeifLibrary, Soname(RunTimeLibrary::kHeif), "HEIF and AVIF pictures", "heif_context_alloc"),
    Opener(OpenIlLibrary, Soname(RunTimeLibrary::kIl), "pictures of this format", "ilInit"),
    Opener(OpenTiffLibrary, Soname(RunTimeLibrary::kTiff), "TIFF pictures", "TIFFOpenOptionsAlloc"),
    Opener(OpenWebpLibrary, Soname(RunTimeLibrary::kWebp), "WebP pictures", "WebPGetFeaturesInternal"),
    Opener(OpenWebpDemuxLibrary, Soname(RunTimeLibrary::kWebpDemux), "WebP pictures", "WebPAnimDecoderOptionsInitInternal"),
    Opener(OpenGifLibrary, Soname(RunTimeLibrary::kGif), "GIF pictures", "DGifOpen"),
    Opener(OpenStbLibrary, Soname(RunTimeLibrary::kStb), "BMP pictures", "stbi_load_from_memory"),
};

}  // namespace

TEST(RunTimeLibraries, AMissingLibraryOrFunctionIsNamedAndSetsNothing) {
    for (const TableOpener& table : kTables) {
        std::string absent = std::string("absent-") + table.soname, reason;
        size_t slots = 0, set = 0;
        EXPECT_EQ(table.open(absent.c_str(), reason, slots, set), -1) << absent;
        EXPECT_EQ(set, 0u) << absent;
        std::string expected = std::string(table.users) + " need " + absent + ", which could not be loaded: " + absent +
                               ": cannot open shared object file";
        EXPECT_EQ(reason.rfind(expected, 0), 0u) << reason;

        EXPECT_EQ(table.open("libc.so.6", reason, slots, set), -1) << table.soname;
        EXPECT_EQ(set, 0u) << table.soname;
        EXPECT_EQ(reason, std::string(table.users) + " need libc.so.6, which could not be loaded: it has no function " +
                              table.firstFunction);
    }
}

TEST(RunTimeLibraries, TheInstalledLibrariesResolveEveryFunction) {
    for (const TableOpener& table : kTables) {
        std::string reason;
        size_t slots = 0, set = 0;
        ASSERT_EQ(table.open(table.soname, reason, slots, set), 0) << reason;
        EXPECT_EQ(set, slots) << table.soname;
    }
}

// Linked at build time, they and what they bring would load at every start of the helper.
TEST(RunTimeLibraries, TheHelperLinksNoneOfThem) {
    FILE* ldd = popen("ldd '" QUARRO_DECODER_PROGRAM "' 2>&1", "r");
    ASSERT_NE(ldd, nullptr);
    std::string needed = ReadAll(fileno(ldd));
    ASSERT_EQ(pclose(ldd), 0) << needed;
    ASSERT_NE(needed.find("libc.so"), std::string::npos) << needed;
    for (const char* library : {"libheif", "libde265", "libx265", "libdav1d", "libaom", "libIL", "libmng", "liblcms2",
                                "libtiff", "libwebp", "libgif", "libstb", "libzstd", "liblzma", "libLerc", "libjbig",
                                "libdeflate"}) {
        EXPECT_EQ(needed.find(library), std::string::npos) << library;
    }
}

// Every library of the table loads by its row, and every format the program identifies has a
// row that decodes it: its own decoder, the general image library, or both when the own one
// leaves some files to the library.
TEST(RunTimeLibraries, EveryRowLoadsAndEveryFormatHasADecoder) {
    for (RunTimeLibrary library : {RunTimeLibrary::kHeif, RunTimeLibrary::kIl, RunTimeLibrary::kTiff,
                                   RunTimeLibrary::kWebp, RunTimeLibrary::kWebpDemux, RunTimeLibrary::kGif,
                                   RunTimeLibrary::kStb, RunTimeLibrary::kLcms}) {
        const RunTimeLibraryRow& row = RunTimeLibraryOf(library);
        std::string reason;
        EXPECT_EQ(row.library, library);
        EXPECT_EQ(row.load(reason), 0) << row.soname << ": " << reason;
    }
    size_t count = 0;
    const ImageFormatRow* rows = ImageFormatRows(count);
    for (size_t i = 0; i < count; ++i) {
        if (rows[i].format == ImageFormat::kPalette) continue;  // colours, not a picture
        const DecoderRow& decoder = DecoderRowOf(rows[i].format);
        ASSERT_EQ(decoder.format, rows[i].format) << rows[i].name;
        bool library = decoder.libraryType != IL_TYPE_UNKNOWN;
        EXPECT_TRUE(decoder.decode != nullptr || library) << rows[i].name;
        EXPECT_TRUE(decoder.everyFile || library) << rows[i].name;
        EXPECT_TRUE(decoder.decode != nullptr || !decoder.everyFile) << rows[i].name;
    }
    // A format without a decoder row is refused before anything reads the bytes.
    for (ImageFormat format : {ImageFormat::kPalette, ImageFormat::kUnknown}) {
        const std::string bytes = "JASC-PAL\r\n0100\r\n1\r\n0 0 0\r\n";
        DecodedImage out;
        std::string reason;
        EXPECT_EQ(DecodeImage(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), format, out, reason), -1);
        EXPECT_EQ(reason, "the decoder was handed no format it reads");
    }
}

// Which decoding helper the program agrees to start: only its own, at the fixed place, and
// none that another user could have put there or could change.
#include "image/decoder_location.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "image/decode_client.h"
#include "support/temp_folder.h"

namespace {

// An executable file at `path` with `mode`, in folders made on the way.
void MakeProgram(const std::string& path, mode_t mode) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteWholeFile(path, "#!/bin/sh\nexit 0\n");
    chmod(path.c_str(), mode);
}

}  // namespace

TEST(DecoderLocation, RefusesAHelperOthersCouldChangeAndNamesThePath) {
    TempFolder folder;
    const bool root = geteuid() == 0;
    struct Case {
        const char* label;
        mode_t programMode;
        mode_t folderMode;   // of the folder holding the program
        uid_t folderOwner;   // -1: this user
        const char* reason;  // empty: accepted
    } cases[] = {
        {"private", 0755, 0755, static_cast<uid_t>(-1), ""},
        {"not executable", 0644, 0755, static_cast<uid_t>(-1), "is not executable"},
        {"group-writable program", 0775, 0755, static_cast<uid_t>(-1), "is refused: other users could change it"},
        {"world-writable program", 0757, 0755, static_cast<uid_t>(-1), "is refused: other users could change it"},
        {"group-writable folder", 0755, 0775, static_cast<uid_t>(-1), "other users could change the folder"},
        {"world-writable folder", 0755, 0777, static_cast<uid_t>(-1), "other users could change the folder"},
        {"sticky folder of this user", 0755, 01777, static_cast<uid_t>(-1), root ? "" : "could change the folder"},
        {"folder of another user", 0755, 0755, 65534, "other users could change the folder"},
        {"sticky folder of another user", 0755, 01777, 65534, "other users could change the folder"},
    };
    int index = 0;
    for (const Case& c : cases) {
        std::string dir = folder.File("case" + std::to_string(index++)), program = dir + "/libexec/quarro-decode";
        MakeProgram(program, c.programMode);
        chmod((dir + "/libexec").c_str(), c.folderMode);
        if (c.folderOwner != static_cast<uid_t>(-1)) {
            if (!root) continue;  // only root gives a folder away
            ASSERT_EQ(chown((dir + "/libexec").c_str(), c.folderOwner, static_cast<gid_t>(-1)), 0);
        }
        std::string reason;
        int result = CheckDecoderProgram(program, reason);
        if (c.reason[0] == '\0') {
            EXPECT_EQ(result, 0) << c.label << ": " << reason;
            continue;
        }
        EXPECT_EQ(result, -1) << c.label;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.label << ": " << reason;
        EXPECT_EQ(reason.find("the decoder program " + program), 0u) << c.label << ": " << reason;
    }
}

TEST(DecoderLocation, JudgesTheRealPathAndEscapesTheNameItGives) {
    TempFolder folder;
    // A link in a private folder to a program in a folder anyone may write to.
    MakeProgram(folder.File("open/quarro-decode"), 0755);
    chmod(folder.File("open").c_str(), 0777);
    std::filesystem::create_directory(folder.File("private"));
    std::filesystem::create_symlink(folder.File("open/quarro-decode"), folder.File("private/quarro-decode"));
    std::string reason;
    EXPECT_EQ(CheckDecoderProgram(folder.File("private/quarro-decode"), reason), -1);
    EXPECT_NE(reason.find("could change the folder " + folder.File("open")), std::string::npos) << reason;

    std::string odd = folder.File("odd\x1b[2J\nname/quarro-decode");
    EXPECT_EQ(CheckDecoderProgram(odd, reason), -1);
    EXPECT_EQ(reason, "the decoder program " + folder.path + "/odd\\x1b[2J\\nname/quarro-decode was not found");
}

TEST(DecoderLocation, ProgramsOfTheBuildTreeFindItsHelperInTheInstalledLayout) {
    // The test programs sit one folder below the build root, as the installed ones sit in bin/.
    SetImageDecoderPath("");
    std::string program, reason;
    ASSERT_EQ(FindImageDecoder(program, reason), 0) << reason;
    EXPECT_EQ(program.substr(program.size() - 29), "/libexec/quarro/quarro-decode") << program;
}

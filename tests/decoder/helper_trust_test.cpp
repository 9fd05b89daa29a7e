// The helper that runs is the file that was checked: reached through a path that keeps
// changing, a planted program that another user could change never runs, for the first helper
// of a read or for the spares started ahead of need.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "image/decode_client.h"
#include "image/image_file.h"
#include "support/png_codec.h"
#include "support/temp_folder.h"

TEST(HelperTrust, ASymlinkFlippingToAPlantedProgramNeverRunsIt) {
    TempFolder folder;
    namespace fs = std::filesystem;
    fs::create_directories(folder.File("real"));
    fs::create_directories(folder.File("planted"));
    fs::copy_file(QUARRO_DECODER_PROGRAM, folder.File("real/quarro-decode"));
    chmod(folder.File("real/quarro-decode").c_str(), 0755);
    // World-writable, so refused by the checks; run, it would leave its mark.
    std::string mark = folder.File("planted-ran");
    WriteWholeFile(folder.File("planted/quarro-decode"), "#!/bin/sh\necho ran >> '" + mark + "'\n");
    chmod(folder.File("planted/quarro-decode").c_str(), 0777);
    std::string picture = folder.File("a.png");
    ASSERT_TRUE(EncodePng(picture, 3, 2, 2, std::vector<unsigned char>(18, 0x40)));

    fs::create_directory_symlink("real", folder.File("link"));
    std::atomic<bool> stop(false);
    std::thread flipper([&] {
        for (int turn = 0; !stop; ++turn) {
            std::string next = folder.File("link.next");
            unlink(next.c_str());
            if (symlink(turn % 2 == 0 ? "planted" : "real", next.c_str()) == 0) rename(next.c_str(), folder.File("link").c_str());
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    SetImageDecoderPath(folder.File("link/quarro-decode"));
    // Reads until 40 have loaded: refused ones (the path named the planted program when it was
    // checked) take next to no time.
    int loaded = 0;
    for (int read = 0; read < 100000 && loaded < 40; ++read) {
        CPixelImage image;
        std::string reason;
        if (ReadImageFile(picture, image, reason) == 0) {
            ++loaded;
        } else {
            EXPECT_NE(reason.find("is refused: other users could change it"), std::string::npos) << reason;
        }
    }
    stop = true;
    flipper.join();
    SetImageDecoderPath("");
    EXPECT_EQ(loaded, 40);
    // The spare started by the last read ends with the folder; give a wrongly started one time to write.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(fs::exists(mark)) << "the planted program ran";
}

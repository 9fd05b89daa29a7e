// A stand-in for the ffmpeg program, first on PATH while the object lives (for this process
// and the programs it starts): asked for its encoders it lists libx264 and gif; otherwise it
// runs a shell `body` with the frames on its standard input and the output file's name (or
// descriptor path) as its last argument.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/temp_folder.h"

class FakeFfmpeg {
public:
    explicit FakeFfmpeg(const std::string& body) {
        const char* path = std::getenv("PATH");
        savedPath = path != nullptr ? path : "";
        WriteWholeFile(folder.File("ffmpeg"),
                       "#!/bin/sh\n"
                       "case \" $* \" in *' -encoders '*) printf ' ------\\n V....D libx264  H.264\\n V..... gif  GIF\\n';"
                       " exit 0;; esac\n"
                       "for last; do :; done\n" + body + "\n");
        std::filesystem::permissions(folder.File("ffmpeg"), std::filesystem::perms::owner_all);
        setenv("PATH", (folder.path + ":" + savedPath).c_str(), 1);
    }
    ~FakeFfmpeg() { setenv("PATH", savedPath.c_str(), 1); }
    FakeFfmpeg(const FakeFfmpeg&) = delete;
    FakeFfmpeg& operator=(const FakeFfmpeg&) = delete;

private:
    TempFolder folder;
    std::string savedPath;
};

// One image of the image library for one operation (a decode, a read or a write): made and
// bound on construction, deleted again on every path out. The library must have been started.
#pragma once

#include <IL/il.h>

class LibraryImage {
public:
    LibraryImage() {
        ilGenImages(1, &name);
        ilBindImage(name);
    }
    ~LibraryImage() { ilDeleteImages(1, &name); }
    LibraryImage(const LibraryImage&) = delete;
    LibraryImage& operator=(const LibraryImage&) = delete;

private:
    ILuint name = 0;
};

// How a document being saved names its pictures, so that it can be moved together with them.
// A picture found through a document's relative name keeps that name wherever it still leads
// to the same file from the new document's folder (a load and a save in the same place give
// the same bytes). Otherwise a picture beneath the new folder is named relative to it, any
// other absolutely; the reader's rule (beside the document, then the current folder) then
// finds it. A picture chosen by hand keeps the path given.
#pragma once

#include <string>

struct PictureOrigin {
    std::string loaded;  // the path the picture was loaded from
    std::string stored;  // the document's relative name it was found through; "" when chosen by hand
};

// The path to store for `picture` in a document saved at `documentPath`.
std::string SpellPicturePath(const PictureOrigin& picture, const std::string& documentPath);

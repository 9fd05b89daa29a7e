// Where the image paths that a morph document holds are looked for, the same for the window
// and the renderer. An absolute path is taken as it is. A relative one is looked for beside
// the document first, since that is the picture the document was made with, then from the
// current folder; when both places hold a picture and they differ, the note says which one
// is used, so that a different picture is never taken without a word.
#pragma once

#include <string>

struct DocumentImage {
    std::string path;   // what to load: where the picture was found, else the path as stored
    bool found = false;
    std::string note;   // found: a warning when both places hold different files, else "";
                        // not found: the places looked in
};

// Locates the image `stored` in the document at `documentPath` (an empty `stored` is not found,
// without a note).
DocumentImage LocateDocumentImage(const std::string& stored, const std::string& documentPath);

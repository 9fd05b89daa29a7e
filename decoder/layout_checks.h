// Checks of a file's layout made before any decoder reads it, where a decoder would spin,
// overrun or follow offsets blindly: the decoder table names each format's (format_decoders.h).
// True when the file may be decoded, else false with a reason a user can act on.
#pragma once

#include <string>

#include "image/byte_reader.h"

// Every PNG chunk up to IEND lies within the file.
bool PngChunksFit(const ByteReader& png, std::string& reason);
// Every image an icon file lists lies within the file and holds the pixels its header promises.
bool IcoEntriesFit(const ByteReader& ico, std::string& reason);
// A PIC file's sides are at most 32767 and its channel packets are of the kinds the image
// library reads, alpha among them.
bool PicChannelsFit(const ByteReader& pic, std::string& reason);

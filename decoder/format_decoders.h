// The extra decoders behind DecodeExtra, one per format. Each is handed bytes its
// format test accepted and follows DecodeExtra's contract (1 decoded, 0 leave it to the
// image library, -1 failure with a reason); `out` is a fresh image owned by the dispatcher.
#pragma once

#include <cstddef>
#include <string>

#include "decoder/decoded_image.h"

bool LooksLikeWebp(const unsigned char* data, size_t size);
int DecodeWebp(const unsigned char* data, size_t size, DecodedImage& out, std::string& reason);

bool LooksLikeHeif(const unsigned char* data, size_t size);
int DecodeHeif(const unsigned char* data, size_t size, DecodedImage& out, std::string& reason);

bool LooksLikeBmp(const unsigned char* data, size_t size);
int DecodeBmp(const unsigned char* data, size_t size, DecodedImage& out, std::string& reason);

bool LooksLikeJpeg(const unsigned char* data, size_t size);
int DecodeCmykJpeg(const unsigned char* data, size_t size, DecodedImage& out, std::string& reason);

bool LooksLikeTiff(const unsigned char* data, size_t size);
int DecodeTiff(const unsigned char* data, size_t size, DecodedImage& out, std::string& reason);

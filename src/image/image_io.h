#pragma once
// Picture files outside the JPEG decoder: our own BMP reader, a PNG writer (for looking at
// pipeline output and for tests) and JPEG file writing through the codec.
#include <cstdint>
#include <string>
#include <vector>

#include "image/bitmap.h"

namespace fv {

class TStream;

FV_DECLARE_EXCEPTION(EBitmapFormatError, Exception);

// Reads a Windows bitmap (core or info header; 1, 4, 8, 16, 24, 32 bits; uncompressed,
// bit fields, RLE4 and RLE8) into a 24-bit bitmap (pf8bit is never produced).
// Raises EBitmapFormatError for anything it cannot read; sizes and offsets are checked.
void LoadBmpFromMemory(const uint8_t* data, size_t size, TBitmap& bitmap);
void LoadBmpFromStream(TStream& stream, TBitmap& bitmap);  // from the position to the end
// Size and pixel format from the headers only: ReadBmpFacts raises EBitmapFormatError,
// ReadBmpSize returns false instead. kBmpHeaderBytes is the most the headers take (file
// header, the largest info header, bit-field masks); the pixels are never looked at.
constexpr size_t kBmpHeaderBytes = 14 + 1024 + 16;
void ReadBmpFacts(const uint8_t* data, size_t size, int& width, int& height, TPixelFormat& pf);
bool ReadBmpSize(const uint8_t* data, size_t size, int& width, int& height, TPixelFormat& pf);

// Uncompressed-deflate PNG (RGB, 8 bits per channel).
std::vector<uint8_t> EncodePng(const TBitmap& bitmap);
void SavePngToFile(const TBitmap& bitmap, const std::string& fileName);
void SaveJpegToFile(const TBitmap& bitmap, const std::string& fileName, int quality = 90);
// Writes .png or .jpg/.jpeg by the extension (anything else: JPEG).
void SavePictureToFile(const TBitmap& bitmap, const std::string& fileName, int quality = 90);

}  // namespace fv

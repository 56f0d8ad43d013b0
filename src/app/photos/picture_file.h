// Photo files: BMP, JPEG, PNG, WebP and HEIC/HEIF in, BMP and PNG out. Every reader returns a
// 32-bit bitmap (blue, green, red, and a fourth byte set to 0), whatever depth the file stores;
// transparent pixels are composed over black, the colour the slideshow puts around a photo.
// Failures return false with a one-line text for a person; nothing here throws, prints or aborts,
// whatever the file contains. A reader given a size hint may return the picture reduced by a whole
// factor, never below what the hint needs (picture_reduce.h); without one it gives every pixel.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "raster/picture_reduce.h"
#include "raster/raster.h"

namespace lumivor {

enum class PictureFormat { Unknown, Bmp, Jpeg, Png, Webp, Heif };

// Largest picture any reader or writer accepts: keeps a forged header from asking for gigabytes,
// and still leaves room for photos far beyond any video frame size.
inline constexpr int MaxPictureSide = 32768;
inline constexpr std::int64_t MaxPicturePixels = std::int64_t{1} << 28;

// By content: "BM" starts a BMP, FF D8 FF a JPEG, the PNG signature a PNG, "RIFF....WEBP" a WebP,
// and an ISO box "ftyp" with a HEIF brand a HEIC or HEIF. The name's extension plays no part.
PictureFormat DetectPictureFormat(std::span<const std::uint8_t> data);

// The BMP kinds read: uncompressed 1, 4, 8, 16, 24 and 32 bits per pixel, bottom-up or top-down,
// BI_RGB or BI_BITFIELDS (16 and 32 bits), with the core, info, V4 or V5 header.
bool ReadBmp(std::span<const std::uint8_t> data, Bitmap& picture, std::string& errorText,
             const PictureSizeHint& hint = {});
// The hint is taken for the pixels as stored: the caller turns it for an orientation tag. The
// reduction is a power of two, most of it done by the decoder's own scaled transform.
bool ReadJpeg(std::span<const std::uint8_t> data, Bitmap& picture, std::string& errorText,
              const PictureSizeHint& hint = {});
// Any PNG colour type and depth: palette, grey, 16 bits a channel (rounded to 8), interlaced.
bool ReadPng(std::span<const std::uint8_t> data, Bitmap& picture, std::string& errorText,
             const PictureSizeHint& hint = {});
// Still WebP, lossy or lossless; an animation is refused.
bool ReadWebp(std::span<const std::uint8_t> data, Bitmap& picture, std::string& errorText,
              const PictureSizeHint& hint = {});

// How a reader treats a turn the file asks for (the EXIF orientation tag of a JPEG, the rotation
// and mirror properties of a HEIF).
enum class PictureTurn {
  AsStored,  // the pixels in the order the file stores them
  Upright,   // turned and mirrored as the file asks, so the picture stands as it was taken
};

// The primary image of a HEIC/HEIF file.
bool ReadHeif(std::span<const std::uint8_t> data, Bitmap& picture, std::string& errorText,
              PictureTurn turn = PictureTurn::AsStored, const PictureSizeHint& hint = {});

// Any of the readers, chosen by content. The hint is for the picture as it is returned, turned
// upright or not as turn says.
bool ReadPicture(std::span<const std::uint8_t> data, Bitmap& picture, std::string& errorText,
                 PictureTurn turn = PictureTurn::AsStored, const PictureSizeHint& hint = {});
// Reads a whole file and decodes it; the error text names the file.
bool ReadPictureFile(const std::string& fileName, Bitmap& picture, std::string& errorText,
                     PictureTurn turn = PictureTurn::AsStored);

// Encoders take 24- or 32-bit bitmaps. The BMP is 24 bits, bottom-up, BI_RGB; the PNG is 8-bit RGB.
bool EncodeBmp24(const Bitmap& picture, std::vector<std::uint8_t>& file, std::string& errorText);
bool EncodePng(const Bitmap& picture, std::vector<std::uint8_t>& file, std::string& errorText);

// PNG when the name ends in ".png" (any letter case), otherwise BMP.
PictureFormat OutputFormatForName(const std::string& fileName);

// Encodes in the format OutputFormatForName chooses for fileName.
bool EncodePicture(const std::string& fileName, const Bitmap& picture, std::vector<std::uint8_t>& file,
                   std::string& errorText);
// Encodes as EncodePicture does and writes through OutputFile (app/files/output_file.h): the target is
// checked before the picture is encoded, and replaced only by a complete file.
bool WritePictureFile(const std::string& fileName, const Bitmap& picture, std::string& errorText);

}  // namespace lumivor

// Exif orientation tags and dates written byte by byte, as cameras and phones write them.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace lumivor::testing {

// A TIFF block's 16- and 32-bit numbers in its byte order.
inline void PutTiff16(std::vector<std::uint8_t>& tiff, std::uint32_t v, bool bigEndian) {
  if (bigEndian) tiff.insert(tiff.end(), {std::uint8_t(v >> 8), std::uint8_t(v)});
  else tiff.insert(tiff.end(), {std::uint8_t(v), std::uint8_t(v >> 8)});
}

inline void PutTiff32(std::vector<std::uint8_t>& tiff, std::uint32_t v, bool bigEndian) {
  PutTiff16(tiff, bigEndian ? v >> 16 : v & 0xFFFF, bigEndian);
  PutTiff16(tiff, bigEndian ? v & 0xFFFF : v >> 16, bigEndian);
}

// An Exif APP1 body ("Exif\0\0" and a TIFF block): a text tag before the orientation, its text
// stored after the directory. type 3 is SHORT, 4 LONG.
inline std::vector<std::uint8_t> BuildExif(int orientation, bool bigEndian, int type = 3, int count = 1) {
  std::vector<std::uint8_t> tiff;
  const auto put16 = [&](std::uint32_t v) { PutTiff16(tiff, v, bigEndian); };
  const auto put32 = [&](std::uint32_t v) { PutTiff32(tiff, v, bigEndian); };
  tiff.insert(tiff.end(), bigEndian ? std::initializer_list<std::uint8_t>{'M', 'M'} : std::initializer_list<std::uint8_t>{'I', 'I'});
  put16(42);
  put32(8);
  put16(2);
  put16(0x010F), put16(2), put32(6), put32(8 + 2 + 2 * 12 + 4);  // Make, ASCII, at its offset
  put16(0x0112), put16(static_cast<std::uint32_t>(type)), put32(static_cast<std::uint32_t>(count));
  if (type == 3) put16(static_cast<std::uint32_t>(orientation)), put16(0);
  else put32(static_cast<std::uint32_t>(orientation));
  put32(0);
  for (char c : std::string("Phone", 6)) tiff.push_back(static_cast<std::uint8_t>(c));
  std::vector<std::uint8_t> body = {'E', 'x', 'i', 'f', 0, 0};
  body.insert(body.end(), tiff.begin(), tiff.end());
  return body;
}

// The JPEG with an APP1 segment of this body placed right after its start marker.
inline std::vector<std::uint8_t> WithApp1(const std::vector<std::uint8_t>& jpeg, const std::vector<std::uint8_t>& body) {
  const std::size_t length = body.size() + 2;
  std::vector<std::uint8_t> file(jpeg.begin(), jpeg.begin() + 2);
  file.insert(file.end(), {0xFF, 0xE1, std::uint8_t(length >> 8), std::uint8_t(length)});
  file.insert(file.end(), body.begin(), body.end());
  file.insert(file.end(), jpeg.begin() + 2, jpeg.end());
  return file;
}

// A TIFF block with the dates a camera writes: DateTime in the first directory and
// DateTimeOriginal in the Exif directory it points to. A null text leaves the tag out.
inline std::vector<std::uint8_t> DateTiff(const char* original, const char* modified, bool bigEndian) {
  std::vector<std::uint8_t> tiff;
  const auto put16 = [&](std::uint32_t v) { PutTiff16(tiff, v, bigEndian); };
  const auto put32 = [&](std::uint32_t v) { PutTiff32(tiff, v, bigEndian); };
  const std::uint32_t firstEntries = (modified != nullptr ? 1 : 0) + (original != nullptr ? 1 : 0);
  const std::uint32_t exifDirectory = 8 + 2 + firstEntries * 12 + 4;
  const std::uint32_t texts = exifDirectory + (original != nullptr ? 2 + 12 + 4 : 0);
  tiff.insert(tiff.end(), {std::uint8_t(bigEndian ? 'M' : 'I'), std::uint8_t(bigEndian ? 'M' : 'I')});
  put16(42);
  put32(8);
  put16(firstEntries);
  // Each text is 20 bytes with its NUL, so it is kept outside the entry, at its offset.
  std::uint32_t nextText = texts;
  if (modified != nullptr) put16(0x0132), put16(2), put32(20), put32(nextText), nextText += 20;
  if (original != nullptr) put16(0x8769), put16(4), put32(1), put32(exifDirectory);
  put32(0);
  if (original != nullptr) {
    put16(1);
    put16(0x9003), put16(2), put32(20), put32(nextText);
    put32(0);
  }
  for (const char* text : {modified, original}) {
    if (text == nullptr) continue;
    std::string value(text);
    value.resize(20, '\0');
    tiff.insert(tiff.end(), value.begin(), value.end());
  }
  return tiff;
}

// A TIFF block as a JPEG's APP1 segment holds it: "Exif\0\0" first.
inline std::vector<std::uint8_t> ExifBody(const std::vector<std::uint8_t>& tiff) {
  std::vector<std::uint8_t> body = {'E', 'x', 'i', 'f', 0, 0};
  body.insert(body.end(), tiff.begin(), tiff.end());
  return body;
}

}  // namespace lumivor::testing

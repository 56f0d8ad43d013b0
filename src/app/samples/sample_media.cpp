#include "app/samples/sample_media.h"

#include <jpeglib.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include "app/files/output_file.h"
#include "app/photos/picture_file.h"
#include "app/samples/sample_pictures.h"

namespace lumivor {

namespace {

struct JpegErrorExit {
  jpeg_error_mgr Manager;
  std::jmp_buf Jump;
  char Text[JMSG_LENGTH_MAX];
};

extern "C" void sample_jpeg_error_exit(j_common_ptr info) {
  auto* error = reinterpret_cast<JpegErrorExit*>(info->err);
  (*info->err->format_message)(info, error->Text);
  std::longjmp(error->Jump, 1);
}

// Nothing with a destructor lives in this function: the library leaves it by longjmp on errors.
bool compress(const Bitmap& picture, int quality, unsigned char** memory, unsigned long* size, char* errorText) {
  jpeg_compress_struct info {};
  JpegErrorExit error {};
  info.err = jpeg_std_error(&error.Manager);
  error.Manager.error_exit = sample_jpeg_error_exit;
  if (setjmp(error.Jump) != 0) {
    jpeg_destroy_compress(&info);
    std::snprintf(errorText, JMSG_LENGTH_MAX, "%s", error.Text);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, memory, size);
  info.image_width = static_cast<JDIMENSION>(picture.Width());
  info.image_height = static_cast<JDIMENSION>(picture.Height());
  info.input_components = picture.BytesPerPixel();
  info.in_color_space = picture.BytesPerPixel() == 4 ? JCS_EXT_BGRX : JCS_EXT_BGR;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(picture.ScanLine(static_cast<int>(info.next_scanline)));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

void put16(std::vector<std::uint8_t>& out, unsigned value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  put16(out, value & 0xffff);
  put16(out, value >> 16);
}

}  // namespace

bool EncodeJpegFile(const Bitmap& picture, int quality, std::vector<std::uint8_t>& file, std::string& errorText) {
  if (picture.IsEmpty() || (picture.BitsPerPixel() != 24 && picture.BitsPerPixel() != 32)) {
    errorText = "a JPEG is made of a 24- or 32-bit picture";
    return false;
  }
  unsigned char* memory = nullptr;
  unsigned long size = 0;
  char text[JMSG_LENGTH_MAX] = "";
  const bool done = compress(picture, quality, &memory, &size, text);
  if (done) file.assign(memory, memory + size);
  std::free(memory);
  if (!done) errorText = std::string("cannot encode the JPEG: ") + text;
  return done;
}

namespace {
// The samples go into a folder that may be shared (/tmp): a link planted there under a sample's
// name must not carry the write to a file outside it, so the link itself is replaced.
constexpr OutputFileOptions SampleFileWriting{.KeepExtension = false, .ReplaceLinks = true};
}  // namespace

bool WriteSamplePhotos(const std::string& folder, std::vector<std::string>& paths, std::string& errorText) {
  struct Photo {
    const char* Name;
    SamplePicture Kind;
    int Width, Height;
  };
  // Several shapes, so that the fitting on black shows: bars left and right for the portrait,
  // above and below for the panorama, none for the 4:3 photo in a 4:3 frame.
  const Photo photos[] = {
      {"landscape-4x3.jpg", SamplePicture::Landscape, 1024, 768},
      {"portrait-3x4.jpg", SamplePicture::Landscape, 600, 800},
      {"pattern-square.bmp", SamplePicture::Pattern, 640, 640},
      {"panorama-16x9.jpg", SamplePicture::Pattern, 1280, 720},
  };
  paths.clear();
  for (const Photo& photo : photos) {
    const Bitmap picture = MakeSamplePicture(photo.Kind, photo.Width, photo.Height);
    const std::string path = folder + "/" + photo.Name;
    std::vector<std::uint8_t> bytes;
    const bool bmp = path.size() > 4 && path.compare(path.size() - 4, 4, ".bmp") == 0;
    if (!(bmp ? EncodeBmp24(picture, bytes, errorText) : EncodeJpegFile(picture, 90, bytes, errorText))) return false;
    if (!WriteFileReplacing(path, bytes, errorText, SampleFileWriting)) return false;
    paths.push_back(path);
  }
  return true;
}

bool WriteSampleTrack(const std::string& path, double seconds, std::string& errorText) {
  constexpr int Rate = 44100;
  constexpr int Channels = 2;
  if (!(seconds > 0 && seconds <= 3600)) {
    errorText = "a sample track lasts more than 0 and at most 3600 seconds";
    return false;
  }
  const auto frames = static_cast<std::uint32_t>(seconds * Rate);
  const std::uint32_t dataBytes = frames * Channels * 2;
  std::vector<std::uint8_t> file;
  file.reserve(44 + dataBytes);
  file.insert(file.end(), {'R', 'I', 'F', 'F'});
  put32(file, 36 + dataBytes);
  file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put32(file, 16);
  put16(file, 1);  // PCM
  put16(file, Channels);
  put32(file, Rate);
  put32(file, Rate * Channels * 2);
  put16(file, Channels * 2);
  put16(file, 16);
  file.insert(file.end(), {'d', 'a', 't', 'a'});
  put32(file, dataBytes);

  // A pentatonic tune, one note every half second, each fading out; the right channel is a
  // fifth above, quieter, so that the two channels can be told apart.
  constexpr double Notes[] = {261.63, 293.66, 329.63, 392.00, 440.00, 392.00, 329.63, 293.66};
  constexpr double NoteSeconds = 0.5;
  constexpr double TwoPi = 6.283185307179586;
  for (std::uint32_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / Rate;
    const auto note = static_cast<std::size_t>(t / NoteSeconds);
    const double within = t - static_cast<double>(note) * NoteSeconds;
    const double frequency = Notes[note % std::size(Notes)];
    const double envelope = std::exp(-within * 5.0) * std::min(1.0, within * 200.0);
    const double left = 0.30 * envelope * std::sin(TwoPi * frequency * t);
    const double right = 0.20 * envelope * std::sin(TwoPi * frequency * 1.5 * t);
    put16(file, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(left * 32767))));
    put16(file, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(right * 32767))));
  }
  return WriteFileReplacing(path, file, errorText, SampleFileWriting);
}

}  // namespace lumivor

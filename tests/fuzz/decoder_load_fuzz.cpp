// LoadFile on a file held in memory, then everything the application reads from an opened file.
// Run: lumivor_decoder_fuzz -max_len=65536 [corpus folder]
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "media/components/ff_decoder.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/ff_log.h"

namespace {

lumivor::TFFDecoder* decoder = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!lumivor::TFFLoader::Instance().Load(lumivor::DecoderLibraries)) {
    std::fprintf(stderr, "%s\n", lumivor::TFFLoader::Instance().LastError().c_str());
    std::exit(1);
  }
  // Library chatter about broken input would drown the fuzzer's own output.
  lumivor::DefaultLogger().SetLogLevel(lumivor::llQuiet);
  decoder = new lumivor::TFFDecoder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A memory file with a real path, so the input goes through the same file protocol, size
  // lookup and name handling as a file on disk.
  const int fd = memfd_create("lumivor-fuzz", 0);
  if (fd < 0) return 0;
  std::size_t written = 0;
  while (written < size) {
    const ssize_t n = write(fd, data + written, size - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (decoder->LoadFile(path)) {
    volatile std::size_t sink = decoder->FileInfoText().size();
    lumivor::TFileStreamInfo file;
    decoder->GetFileStreamInfo(file);
    for (int i = -1; i < decoder->StreamCount; ++i) {
      lumivor::TAudioStreamInfo audio;
      lumivor::TVideoStreamInfo video;
      decoder->GetAudioStreamInfo(i, audio);
      decoder->GetVideoStreamInfo(i, video);
      sink = sink + audio.CodecName.size() + video.CodecName.size();
    }
    (void)sink;
    decoder->CloseFile();
  } else if (decoder->LastErrorText.empty()) {
    std::abort();  // a failed load must say why
  }
  close(fd);
  return 0;
}

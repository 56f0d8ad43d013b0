// lumivor probe run as a program: the reports, the failures on stderr and the exit status.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/picture_test_support.h"
#include "cli/cli_test_support.h"
#include "media/components/media_maker.h"

namespace lumivor {
namespace {

using testing::Lines;
using testing::RunLumivor;
using testing::RunResult;
using testing::ScratchFolder;

// A mono 16-bit PCM WAV of the given samples, written byte by byte.
void WriteWav(const std::string& name, int sampleRate, int samples) {
  std::vector<std::uint8_t> bytes;
  auto text = [&](const char* t) { bytes.insert(bytes.end(), t, t + 4); };
  auto u32 = [&](std::uint32_t v) { for (int i = 0; i < 4; ++i) bytes.push_back((v >> (8 * i)) & 0xFF); };
  auto u16 = [&](std::uint16_t v) { bytes.push_back(v & 0xFF); bytes.push_back(v >> 8); };
  text("RIFF"), u32(36 + 2 * samples), text("WAVE");
  text("fmt "), u32(16), u16(1), u16(1), u32(sampleRate), u32(2 * sampleRate), u16(2), u16(16);
  text("data"), u32(2 * samples);
  for (int i = 0; i < samples; ++i) u16(static_cast<std::uint16_t>((i * 2000) & 0xFFFF));
  testing::WriteWholeFile(name, bytes);
}

std::int64_t SizeOf(const std::string& path) { return static_cast<std::int64_t>(std::filesystem::file_size(path)); }

TEST(ProbeCommandTest, ReportsEveryReadableFileAndFailsForTheOthers) {
  ScratchFolder folder;
  const std::string wav = folder / "tone.wav", missing = folder / "missing.wav";
  WriteWav(wav, 8000, 16000);  // two seconds
  const RunResult run = RunLumivor(folder, {"probe", missing, wav});
  EXPECT_EQ(run.ExitCode, 1);
  const std::vector<std::string> errors = Lines(run.Err);
  ASSERT_EQ(errors.size(), 1u) << run.Err;
  EXPECT_EQ(errors[0], "lumivor probe: " + missing + ": No such file or directory");
  for (const std::string& expected : {"File Name: " + wav, std::string("File Size: 32044"),
                                     std::string("File Duration: 00:00:02.000"), std::string("Audio Sample Rate: 8000 hz")})
    EXPECT_NE(run.Out.find(expected), std::string::npos) << expected << "\nin:\n" << run.Out;
}

// The report's sections for files made by the libraries' own encoders, in the order given.
TEST(ProbeCommandTest, ReportsStreamsOfGeneratedMedia) {
  ScratchFolder folder;
  std::string error;
  testing::MediaSpec wavSpec;
  wavSpec.Format = "wav";
  const std::string wav = folder / "tone.wav", clip = folder / "clip.mkv", mp3 = folder / "tone.mp3";
  ASSERT_TRUE(testing::WriteMediaFile(wav, wavSpec, error)) << error;
  testing::MediaSpec clipSpec;
  clipSpec.Format = "matroska";
  clipSpec.HasVideo = true;
  clipSpec.Audio.Codec = "mp2";
  ASSERT_TRUE(testing::WriteMediaFile(clip, clipSpec, error)) << error;
  testing::MediaSpec mp3Spec;
  mp3Spec.Format = "mp3";
  mp3Spec.Audio.Codec = "libmp3lame";
  ASSERT_TRUE(testing::WriteMediaFile(mp3, mp3Spec, error)) << error;

  const RunResult run = RunLumivor(folder, {"probe", wav, clip});
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_EQ(run.Err, "");
  const std::string& report = run.Out;
  const std::string wavPart = report.substr(0, report.find("File Name: " + clip));
  EXPECT_EQ(wavPart.rfind("***FFDecoder.FileInfoText\nFile Name: " + wav + "\n", 0), 0u) << report;
  EXPECT_NE(wavPart.find("\n\nFile Size: " + std::to_string(SizeOf(wav)) + "\n"), std::string::npos) << report;
  // The track list's lengths are cut, not rounded: 45056 samples at 44100 Hz are 1.021678 s.
  EXPECT_NE(wavPart.find("File Duration: 00:00:01.021\n"
                         "Stream #0: Audio\n"
                         "  Audio Length: 00:00:01.021\n"
                         "  Audio Sample Rate: 44100 hz\n"
                         "  Audio Bit Rate: 1411 kb\n"),
            std::string::npos)
      << report;
  const std::string clipPart = report.substr(report.find("File Name: " + clip));
  EXPECT_NE(clipPart.find("Stream #0: Video\n"), std::string::npos) << report;
  EXPECT_NE(clipPart.find("  Video Frame Rate: 25.000000\n"), std::string::npos) << report;
  EXPECT_NE(clipPart.find("  Frame size (width X height): 320x240\n"), std::string::npos) << report;
  EXPECT_NE(clipPart.find("Stream #1: Audio\n"), std::string::npos) << report;

  const RunResult fine = RunLumivor(folder, {"probe", mp3});
  EXPECT_EQ(fine.ExitCode, 0) << fine.Err;
}

// A library that is not in the LibAV folder beside the program is looked for by the system; when
// that fails too, the text says both where it was not and what the system search found.
TEST(ProbeCommandTest, ALibraryThatCannotBeLoadedNamesWhereItWasLookedFor) {
  ScratchFolder folder;
  const std::string wav = folder / "tone.wav";
  WriteWav(wav, 8000, 800);
  // First in the system search: a file of the right name that is not a library.
  std::filesystem::create_directory(folder / "lib");
  ASSERT_TRUE(testing::WriteWholeFile(folder / "lib/libswscale.so.6", {'n', 'o', 't', ' ', 'E', 'L', 'F'}));
  testing::RunOptions options;
  options.Environment = {"LD_LIBRARY_PATH=" + folder / "lib"};
  const RunResult run = RunLumivor(folder, {"probe", wav}, options);
  EXPECT_EQ(run.ExitCode, 1);
  const std::string libAV = std::filesystem::path(LUMIVOR_BINARY).parent_path().string() + "/LibAV/";
  EXPECT_EQ(run.Err.rfind("lumivor probe: Load library " + libAV + "libswscale.so.6 error: not in " + libAV +
                              ", system search: " + folder / "lib/libswscale.so.6: ",
                          0),
            0u)
      << run.Err;
}

TEST(ProbeCommandTest, HelpPrintsTheUsage) {
  ScratchFolder folder;
  for (const char* option : {"--help", "-h"}) {
    SCOPED_TRACE(option);
    const RunResult run = RunLumivor(folder, {"probe", option, "ignored.wav"});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out.rfind("usage: lumivor probe [--allow-protocols] [--] FILE...\n", 0), 0u) << run.Out;
    EXPECT_EQ(run.Err, "");
  }
}

}  // namespace
}  // namespace lumivor

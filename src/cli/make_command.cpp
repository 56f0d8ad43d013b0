#include "cli/make_command.h"

#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>

#include "app/files/output_file.h"
#include "app/run/audio_joiner.h"
#include "app/run/conversion_job.h"
#include "app/run/run_request.h"
#include "app/run/show_project.h"
#include "app/settings/choice_lists.h"
#include "app/settings/settings_page.h"
#include "app/show/frame_sequencer.h"
#include "app/window/main_window.h"
#include "cli/arguments.h"
#include "cli/console.h"
#include "cli/effect_numbers.h"
#include "effects/effect.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/format_text.h"

namespace lumivor::cli {

namespace {

// The command line's short name of the H.264 format; the other formats go by their entries.
constexpr const char* ModernFormatName = "h264";

std::string format_name(int format) {
  return format == ModernFormatIndex ? ModernFormatName : std::string(FormatItems[format]);
}

std::string usage_text() {
  std::string text =
      "usage: lumivor make [options] PHOTO...\n"
      "       lumivor make [options] SHOW.lumivor\n"
      "\n"
      "Renders a slideshow of the photos, in the order given: each photo is fitted into the frame on\n"
      "black and held, and the next one enters through a transition. Photos are JPEG, PNG, BMP, WebP\n"
      "or HEIC/HEIF files, each read by its contents, whatever its name. A PHOTO that starts with \"-\"\n"
      "goes after \"--\", which ends the options. An option's value may also follow an \"=\"\n"
      "(--hold=3).\n"
      "\n"
      "A show kept as a project file (SHOW.lumivor, or any file that starts as one) is rendered with\n"
      "its photos, tracks and choices. Options given with it override the project's: --audio replaces\n"
      "its tracks; --hold, --transition, --effects, --fit, --motion and --motion-strength also replace\n"
      "the photos' own choices of the same kind; --format, --size, --rate, --sample-rate, --mono and\n"
      "--bitrate replace the project's output choices (a format's defaults do not apply); --title,\n"
      "--subtitle and --captions replace its title card and caption rule. The format\n"
      "is the project's unless --format or an -o file of another extension names one. A project that\n"
      "cannot be read, or whose photos or tracks are missing, ends the command with status 1.\n"
      "\n"
      "  --audio FILE        an audio track laid under the slideshow; repeat for more, in playing\n"
      "                      order. The tracks are used only when together they last longer than\n"
      "                      the slideshow; they are then joined into a temporary file beside the\n"
      "                      output, removed afterwards.\n"
      "  -o PATH             a folder (the video is named slideshow-NAME_(new).EXT there, with\n"
      "                      _(new_1), _(new_2), ... when taken) or a file name ending in a format's\n"
      "                      extension. A folder written with a trailing / is made when missing.\n"
      "                      Default: the current folder.\n"
      "  --format NAME       h264, mp4, swf, flv, wmv, mov or mkv (default h264, or the format of\n"
      "                      the -o file's extension, h264 for .mp4); see the players below\n"
      "  --size WxH          frame size in pixels, or a name such as hd720, hd1080 or vga\n"
      "  --rate N:D          frames per second as numerator:denominator\n"
      "  --sample-rate RATE  source, 8000, 11025, 22050 or 44100 (hertz; source keeps the tracks' own)\n"
      "  --mono              one audio channel instead of two\n"
      "  --bitrate KBPS      video bit rate in kilobits per second\n"
      "  --hold SECONDS      whole seconds each photo is held (0 to 3000)\n"
      "  --transition SECONDS  whole seconds each transition lasts (0 to 100)\n"
      "  --effects ORDER     random, sequential (from effect 1) or a list of effect numbers and ranges\n"
      "                      taken in turn, like 5,17,169 or 1-5,9,170-176 (1 to 176; 'lumivor effect\n"
      "                      --list' names them)\n"
      "  --seed N            seed of the random order, so that a run can be made again (0 to 4294967295)\n"
      "  --fit MODE          fit (the whole photo on black, the default), fill (the frame covered,\n"
      "                      the overflow cut off) or blur (the whole photo over a blurred copy)\n"
      "  --scaler KIND       smooth (averaged, the default) or nearest (the old whole-pixel fit)\n"
      "  --motion KIND       none (the default), zoom, pan or random (zoom or pan per photo): photos\n"
      "                      move slowly while on screen, each its own way, repeatable with --seed\n"
      "  --motion-strength PERCENT  change of zoom across a hold, or the zoom a pan is made at\n"
      "                      (0 to 100, default 10)\n"
      "  --realtime          read the frames at their native rate: the run lasts as long as the show\n"
      "                      (without it the run goes as fast as the machine allows)\n"
      "  --break-when-no-pictures  stop the encoder once the last photo has faded out\n"
      "  --no-auto-rotate    show photos as their files store them; by default a JPEG's orientation\n"
      "                      tag and a HEIC's rotation turn the photo upright\n"
      "  --log               print the run's diagnostic lines on stderr\n"
      "  --music-end RULE    how the sound ends with the video: cut (default; the tracks are used only\n"
      "                      when they outlast the show, and cut at its end), fade (the last 2 s\n"
      "                      faded out; shorter tracks are used too and fade at their own end) or\n"
      "                      loop (the tracks played again until the video ends, then faded)\n"
      "  --normalize         bring each track to -16 LUFS (its true peak kept at or below -1 dBTP)\n"
      "                      as the tracks are joined; the log names each track's loudness and gain\n"
      "  --beat-sync         start every transition on a beat of the joined music: each photo's hold\n"
      "                      changes by at most a third to reach the nearest beat; music without a\n"
      "                      clear beat keeps the planned times (the log says which)\n"
      "  --title TEXT        a title card before the first photo: TEXT centred on a dark backdrop,\n"
      "                      held and brought in and out as a photo is\n"
      "  --subtitle TEXT     a smaller line under the title on the title card\n"
      "  --captions RULE     none (the default) or date: each photo captioned with the day it was\n"
      "                      taken, from its Exif data, with the month named in the locale LC_TIME\n"
      "                      sets (\"12 June 2024\"); photos without a date have no caption\n"
      "  --preview-sheet FILE  encode nothing; write one picture (PNG when FILE ends in .png, else\n"
      "                      BMP) of the planned show instead: the first frame of every hold and the\n"
      "                      middle frame of every transition, labelled with the photo's or the\n"
      "                      effect's number. With --seed or a list of --effects the same command\n"
      "                      without it makes exactly these frames\n"
      "\n"
      "\n"
      "Formats and the players they need:\n"
      "  h264  H.264 video and AAC sound in MP4, index first: plays everywhere (browsers, phones,\n"
      "        TVs, every desktop player), and starts while it downloads\n"
      "  mp4   MPEG-4 (mpeg4) video with AAC sound: desktop players such as VLC or mpv; most\n"
      "        browsers, phones and TVs play only H.264 in MP4 and refuse it\n"
      "  swf   Flash video with MP3 sound: a Flash player, or VLC or mpv; browsers no longer play it\n"
      "  flv   Flash video with MP3 sound: VLC, mpv or another desktop player; not browsers or phones\n"
      "  wmv   Windows Media video and sound: Windows' own players, VLC or mpv\n"
      "  mov   QuickTime with MPEG-4 video and AAC sound: QuickTime Player, VLC or mpv\n"
      "  mkv   Matroska with H.264 video: VLC, mpv, Android and most TVs; not Safari, iPhones or\n"
      "        iPads\n"
      "\n"
      "Defaults per format (those of the window's Default command):\n";
  for (int format = 0; format < OutputFormatCount; ++format) {
    const DefaultChoices* choices = DefaultChoicesFor(format);
    if (choices == nullptr) continue;
    const std::string sampleRate = std::string(SampleRateItems[choices->SampleRateIndex]);
    text += FormatText("  %-4s --size %s --rate %s --bitrate %s --sample-rate %s%s\n",
                       format_name(format).c_str(),
                       std::string(VideoSizeItems[choices->VideoSizeIndex]).c_str(),
                       std::string(FrameRateItems[choices->FrameRateIndex]).c_str(),
                       std::string(BitRateItems[choices->BitRateIndex]).c_str(),
                       sampleRate == "as source" ? "source" : sampleRate.c_str(), choices->Stereo ? "" : " --mono");
  }
  text += FormatText("  all  --hold %s --transition %s --effects random\n", DefaultPhotoDelay, DefaultEffectDelay);
  text +=
      "\n"
      "A progress bar goes to stderr and the video's path to stdout. Ctrl-C (or SIGTERM, SIGHUP)\n"
      "stops the run as the window's Stop does; the video written so far is kept, beside an -o file\n"
      "that was there as NAME (stopped).EXT, the file itself left as it was. A second one ends at\n"
      "once and removes what the run had begun. Exit status: 0 written, 1 failed, 130 stopped,\n"
      "2 wrong arguments.\n";
  return text;
}

enum class EffectMode { Random, Sequential, List };

struct Arguments {
  bool Help = false;
  std::vector<std::string> Photos;
  std::vector<std::string> Tracks;
  std::string Output;  // as given; empty: the current folder
  std::optional<int> Format;
  std::optional<VideoSize> Size;
  std::optional<std::string> Rate;
  std::optional<int> SampleRateIndex;
  bool Mono = false;
  std::optional<int> BitRate;
  int Hold = 0;
  int Transition = 0;
  bool HoldGiven = false;
  bool TransitionGiven = false;
  EffectMode Effects = EffectMode::Random;
  std::vector<int> EffectOrder;
  std::optional<std::uint32_t> Seed;
  std::optional<ScreenMode> Screen;
  std::optional<PictureScaler> Scaler;
  std::optional<MotionKind> Motion;
  std::optional<int> MotionStrength;
  bool Realtime = false;
  bool BreakWhenNoPictures = false;
  bool AutoRotate = true;
  bool Log = false;
  std::string PreviewSheet;
  std::optional<MusicEnd> MusicEndRule;
  bool Normalize = false;
  bool BeatSync = false;
  std::optional<std::string> Title;
  std::optional<std::string> Subtitle;
  std::optional<CaptionRule> Captions;

  // A show's project file, rendered instead of photos; once read, the run it describes, which the
  // options given override.
  std::string Project;
  std::optional<RunRequest> ProjectRun;
  bool EffectsGiven = false;
};

// "WxH" or "N:D": two positive whole numbers around the separator.
bool two_numbers(const std::string& text, char separator, long long high) {
  const std::size_t at = text.find(separator);
  if (at == std::string::npos) return false;
  const std::optional<long long> first = WholeNumber(std::string_view(text).substr(0, at));
  const std::optional<long long> second = WholeNumber(std::string_view(text).substr(at + 1));
  return first && second && *first >= 1 && *second >= 1 && *first <= high && *second <= high;
}

int format_index(const std::string& name) {
  if (strcasecmp(name.c_str(), ModernFormatName) == 0) return ModernFormatIndex;
  for (int i = 0; i < OutputFormatCount; ++i) {
    if (strcasecmp(name.c_str(), std::string(FormatItems[i]).c_str()) == 0) return i;
  }
  return -1;
}

// The file name's extension with its dot, empty for none.
std::string extension_of(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  const std::size_t slash = name.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
  return name.substr(dot);
}

// The format whose extension ends the name, -1 for none. Two formats end in ".mp4"; the name
// alone picks the H.264 one, which plays everywhere.
int format_of_file_name(const std::string& name) {
  const std::string extension = extension_of(name);
  if (extension.empty()) return -1;
  if (strcasecmp(extension.c_str(), OutputFormatAt(ModernFormatIndex)->Extension) == 0) return ModernFormatIndex;
  return format_index(extension.substr(1));
}

constexpr OptionRule Options[] = {
    {"--audio", OptionKind::Repeated},       {"-o", OptionKind::Value},
    {"--format", OptionKind::Value},         {"--size", OptionKind::Value},
    {"--rate", OptionKind::Value},           {"--sample-rate", OptionKind::Value},
    {"--mono", OptionKind::Flag},            {"--bitrate", OptionKind::Value},
    {"--hold", OptionKind::Value},           {"--transition", OptionKind::Value},
    {"--effects", OptionKind::Value},        {"--seed", OptionKind::Value},
    {"--fit", OptionKind::Value},            {"--motion", OptionKind::Value},
    {"--motion-strength", OptionKind::Value}, {"--realtime", OptionKind::Flag},
    {"--break-when-no-pictures", OptionKind::Flag}, {"--no-auto-rotate", OptionKind::Flag},
    {"--log", OptionKind::Flag},             {"--music-end", OptionKind::Value},
    {"--preview-sheet", OptionKind::Value},  {"--scaler", OptionKind::Value},
    {"--normalize", OptionKind::Flag},       {"--beat-sync", OptionKind::Flag},
    {"--title", OptionKind::Value},          {"--subtitle", OptionKind::Value},
    {"--captions", OptionKind::Value},
};

// Each option's value is checked in the order the options were given, so the first wrong one
// is the one reported.
void apply_option(Arguments& parsed, const std::string& name, const std::string& value) {
  if (name == "--mono") {
    parsed.Mono = true;
  } else if (name == "--realtime") {
    parsed.Realtime = true;
  } else if (name == "--break-when-no-pictures") {
    parsed.BreakWhenNoPictures = true;
  } else if (name == "--no-auto-rotate") {
    parsed.AutoRotate = false;
  } else if (name == "--log") {
    parsed.Log = true;
  } else if (name == "--normalize") {
    parsed.Normalize = true;
  } else if (name == "--beat-sync") {
    parsed.BeatSync = true;
  } else if (name == "--audio") {
    if (value.empty()) fail("--audio needs a file name");
    parsed.Tracks.push_back(value);
  } else if (name == "-o") {
    if (value.empty()) fail("-o needs a folder or a file name");
    parsed.Output = value;
  } else if (name == "--format") {
    const int index = format_index(value);
    if (index < 0) fail("--format is mp4, swf, flv, wmv, mov or mkv, or h264 (H.264/AAC in MP4), not \"" + value + "\"");
    parsed.Format = index;
  } else if (name == "--size") {
    const std::optional<VideoSize> size = ParseVideoSize(value);
    if (!size || !FrameSizeInRange(*size)) fail("--size wants WIDTHxHEIGHT, each 1 to 8192, not \"" + value + "\"");
    parsed.Size = *size;
  } else if (name == "--rate") {
    if (!two_numbers(value, ':', 1000000)) fail("--rate wants NUMERATOR:DENOMINATOR, like 30:1, not \"" + value + "\"");
    parsed.Rate = value;
  } else if (name == "--sample-rate") {
    std::optional<int> index;
    for (int entry = 0; entry < static_cast<int>(std::size(SampleRateItems)); ++entry) {
      if (value == SampleRateItems[entry] || (entry == 0 && value == "source")) index = entry;
    }
    if (!index) fail("--sample-rate is source, 8000, 11025, 22050 or 44100, not \"" + value + "\"");
    parsed.SampleRateIndex = index;
  } else if (name == "--bitrate") {
    parsed.BitRate = static_cast<int>(NumberInRange(name, value, 1, 1000000));
  } else if (name == "--hold") {
    parsed.Hold = static_cast<int>(NumberInRange(name, value, PhotoDelayRange.Min, PhotoDelayRange.Max));
    parsed.HoldGiven = true;
  } else if (name == "--transition") {
    parsed.Transition = static_cast<int>(NumberInRange(name, value, EffectDelayRange.Min, EffectDelayRange.Max));
    parsed.TransitionGiven = true;
  } else if (name == "--effects") {
    parsed.EffectsGiven = true;
    if (value == "random") {
      parsed.Effects = EffectMode::Random;
    } else if (value == "sequential") {
      parsed.Effects = EffectMode::Sequential;
    } else {
      parsed.Effects = EffectMode::List;
      parsed.EffectOrder = ParseEffectNumbers(value);
    }
  } else if (name == "--music-end") {
    parsed.MusicEndRule = ParseMusicEnd(value);
    if (!parsed.MusicEndRule) fail("--music-end is cut, fade or loop, not \"" + value + "\"");
  } else if (name == "--preview-sheet") {
    if (value.empty()) fail("--preview-sheet needs a file name");
    parsed.PreviewSheet = value;
  } else if (name == "--seed") {
    parsed.Seed = static_cast<std::uint32_t>(NumberInRange(name, value, 0, 4294967295LL));
  } else if (name == "--fit") {
    parsed.Screen = ParseScreenMode(value);
    if (!parsed.Screen) fail("--fit is fit, fill or blur, not \"" + value + "\"");
  } else if (name == "--scaler") {
    parsed.Scaler = ParsePictureScaler(value);
    if (!parsed.Scaler) fail("--scaler is smooth or nearest, not \"" + value + "\"");
  } else if (name == "--motion") {
    parsed.Motion = ParseMotionKind(value);
    if (!parsed.Motion) fail("--motion is none, zoom, pan or random, not \"" + value + "\"");
  } else if (name == "--motion-strength") {
    parsed.MotionStrength = static_cast<int>(NumberInRange(name, value, 0, MaxMotionStrength));
  } else if (name == "--title") {
    parsed.Title = value;
  } else if (name == "--subtitle") {
    parsed.Subtitle = value;
  } else if (name == "--captions") {
    parsed.Captions = ParseCaptionRule(value);
    if (!parsed.Captions) fail("--captions is none or date, not \"" + value + "\"");
  }
}

// ------------------------------------------------------------------ a show's project file

bool names_project(const std::string& word) {
  const std::string extension = extension_of(word);
  return strcasecmp(extension.c_str(), ShowProjectExtension) == 0 || LooksLikeShowProject(word);
}

// A project stands alone: its photos are the show's, and photos given beside it would have no
// place in its order.
void take_project(Arguments& parsed) {
  if (parsed.Photos.size() == 1 && names_project(parsed.Photos.front())) {
    parsed.Project = parsed.Photos.front();
    parsed.Photos.clear();
    return;
  }
  for (const std::string& word : parsed.Photos) {
    if (names_project(word)) fail_usage("a show's project file (\"" + word + "\") is rendered alone, without photos");
  }
}

Arguments parse_arguments(const std::vector<std::string>& words) {
  const ParsedArguments given = ParseArguments(words, Options);
  Arguments parsed;
  parsed.Help = given.Help;
  if (parsed.Help) return parsed;
  for (const ParsedArguments::Option& option : given.Options) apply_option(parsed, option.Name, option.Value);
  parsed.Photos = given.Positionals;
  if (parsed.Photos.empty()) fail_usage("no photos given");
  take_project(parsed);
  return parsed;
}

// ------------------------------------------------------------------ where the video goes

struct OutputPlace {
  std::string Folder;    // the output folder: naming, and the joined sound's temporary file
  std::string File;      // the -o file, empty when the video is named in the folder
  int Format = 0;
};

bool is_folder(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

OutputPlace output_place(const Arguments& parsed) {
  OutputPlace place;
  const std::string output = parsed.Output.empty() ? "." : parsed.Output;
  const int fileFormat = format_of_file_name(output);
  if (is_folder(output) || output.back() == '/' || fileFormat < 0) {
    if (!is_folder(output) && output.back() != '/') {
      fail("-o \"" + output + "\" is neither a folder nor a file name ending in .mp4, .swf, .flv, .wmv, .mov or .mkv");
    }
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(output, error);
    place.Folder = error ? output : absolute.lexically_normal().string();
    if (place.Folder.size() > 1 && place.Folder.back() == '/') place.Folder.pop_back();
    place.Format = parsed.Format.value_or(ModernFormatIndex);
    return place;
  }
  if (parsed.Format &&
      strcasecmp(extension_of(output).c_str(), OutputFormatAt(*parsed.Format)->Extension) != 0) {
    fail("-o \"" + output + "\" does not end in the extension of --format " + format_name(*parsed.Format));
  }
  // Only a regular file is ever replaced: a FIFO, a device or a folder under that name is left
  // alone. A link is followed, so that its target is what gets replaced and the link stays.
  struct stat info {};
  if (::stat(output.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    fail("-o \"" + output + "\" exists and is not a regular file");
  }
  std::error_code error;
  std::filesystem::path target = std::filesystem::absolute(output, error);
  if (error) fail("-o \"" + output + "\": " + error.message());
  std::error_code notALink;
  if (std::filesystem::is_symlink(target, notALink)) {
    target = std::filesystem::canonical(target, error);
    if (error) fail("-o \"" + output + "\": " + error.message());
  }
  place.File = target.string();
  place.Folder = target.parent_path().string();
  if (!is_folder(place.Folder)) fail("-o \"" + output + "\": the folder " + place.Folder + " does not exist");
  place.Format = parsed.Format.value_or(fileFormat);
  return place;
}

// ------------------------------------------------------------------ the project's run

// Reads the project into the arguments: its run, its photos, its tracks unless --audio named
// others, and its format unless --format or an -o file of another extension picks one. false with
// the reason (the file's, or every missing photo and track, one per line).
bool read_project(Arguments& parsed, std::string& errorText) {
  ShowProject project;
  if (!LoadShowProject(parsed.Project, project, errorText)) return false;
  const std::vector<std::string> problems = ShowProjectProblems(project);
  if (!problems.empty()) {
    errorText = parsed.Project + ": the show cannot be made as it stands:";
    for (const std::string& problem : problems) errorText += "\n  " + problem;
    return false;
  }
  RunRequest run;
  if (!RequestFromProject(project, run, errorText)) {
    errorText = parsed.Project + ": " + errorText;
    return false;
  }
  parsed.Photos = run.Photos;
  if (parsed.Tracks.empty()) parsed.Tracks = run.Tracks;
  if (!parsed.Format) {
    const std::string& output = parsed.Output;
    const bool toFile = !output.empty() && output.back() != '/' && !is_folder(output) && format_of_file_name(output) >= 0;
    if (!toFile || strcasecmp(extension_of(output).c_str(), OutputFormatAt(run.FormatIndex)->Extension) == 0) {
      parsed.Format = run.FormatIndex;
    }
  }
  parsed.ProjectRun = std::move(run);
  return true;
}

// The project's run with the options given on top. An option that sets a choice for the whole
// show also takes back the photos' own choices of that kind: what was typed last is what is asked.
RunRequest project_run_request(const Arguments& parsed, const OutputPlace& place) {
  RunRequest request = *parsed.ProjectRun;
  auto for_each_photo = [&request](auto clear) {
    for (PhotoChoices& own : request.PerPhoto) clear(own);
  };
  request.Tracks = parsed.Tracks;
  request.FormatIndex = place.Format;
  if (parsed.Size) {
    request.Width = parsed.Size->Width;
    request.Height = parsed.Size->Height;
  }
  if (parsed.Rate) {
    const FrameRateParts rate = ParseFrameRateText(*parsed.Rate);
    request.RateNumerator = rate.Numerator;
    request.RateDenominator = rate.Denominator;
  }
  if (parsed.SampleRateIndex) request.SampleRate = SampleRateOfEntry(*parsed.SampleRateIndex);
  if (parsed.Mono) request.Stereo = false;
  if (parsed.BitRate) request.BitRate = *parsed.BitRate;
  if (parsed.HoldGiven) {
    request.HoldSeconds = parsed.Hold;
    for_each_photo([](PhotoChoices& own) { own.HoldSeconds.reset(); });
  }
  if (parsed.TransitionGiven) {
    request.TransitionSeconds = parsed.Transition;
    for_each_photo([](PhotoChoices& own) { own.TransitionSeconds.reset(); });
  }
  if (parsed.EffectsGiven) {
    request.RandomEffects = parsed.Effects == EffectMode::Random;
    request.EffectOrder = parsed.EffectOrder;
    for_each_photo([](PhotoChoices& own) { own.TransitionEffect.reset(); });
  }
  if (parsed.Seed) request.Seed = parsed.Seed;
  if (parsed.Screen) {
    request.Screen = *parsed.Screen;
    for_each_photo([](PhotoChoices& own) { own.Screen.reset(); });
  }
  if (parsed.Scaler) request.Scaler = *parsed.Scaler;
  if (parsed.Motion) {
    request.Motion = *parsed.Motion;
    for_each_photo([](PhotoChoices& own) { own.Motion.reset(); });
  }
  if (parsed.MotionStrength) {
    request.MotionStrength = *parsed.MotionStrength;
    for_each_photo([](PhotoChoices& own) { own.MotionStrength.reset(); });
  }
  if (parsed.MusicEndRule) request.MusicEndRule = *parsed.MusicEndRule;
  if (parsed.Normalize) request.Normalize = true;
  if (parsed.BeatSync) request.BeatSync = true;
  if (parsed.Title) request.Title = *parsed.Title;
  if (parsed.Subtitle) request.Subtitle = *parsed.Subtitle;
  if (parsed.Captions) request.Captions = *parsed.Captions;
  if (std::none_of(request.PerPhoto.begin(), request.PerPhoto.end(), [](const PhotoChoices& own) { return own.HasAny(); })) {
    request.PerPhoto.clear();
  }
  request.OutputFolder = place.Folder;
  request.Realtime = parsed.Realtime;
  request.BreakWhenNoPictures = parsed.BreakWhenNoPictures;
  request.AutoRotate = parsed.AutoRotate;
  request.PreviewSheetFile = parsed.PreviewSheet;
  return request;
}

// ------------------------------------------------------------------ the console as the window

std::string progress_bar(const TProgressInfo& info, std::int64_t totalFrames) {
  constexpr int Width = 30;
  std::int64_t percent = totalFrames > 0 && info.FrameNumber > 0 ? info.FrameNumber * std::int64_t{100} / totalFrames : 0;
  percent = std::clamp<std::int64_t>(percent, 0, 100);
  const int filled = static_cast<int>(percent * Width / 100);
  return "[" + std::string(filled, '#') + std::string(Width - filled, '.') + "] " +
         FormatText("%3d%% frame=%5d/%lld fps=%3d size=%8lldkB", static_cast<int>(percent),
                    info.FrameNumber < 0 ? 0 : info.FrameNumber, static_cast<long long>(totalFrames),
                    info.FPS < 0 ? 0 : info.FPS, static_cast<long long>(info.CurrentSize / 1024));
}

class ConsoleFace : public RunFace, public MessageBoxes, public LogMemo {
 public:
  ConsoleFace(const Arguments& parsed, Terminal& terminal, std::int64_t totalFrames)
      : parsed_(parsed), terminal_(terminal), totalFrames_(totalFrames) {}

  SlideshowRunner* Runner = nullptr;
  std::vector<std::string> Messages;
  bool Interrupted = false;

  void RunBegins() override {}
  void RunEnds(bool) override {}
  void RunFinished(const JobResult&) override {}
  void RunProgress(const TProgressInfo& info, const std::string&, int) override {
    if (Runner != nullptr && Runner->Joining()) {
      terminal_.Bar(FormatText("joining the audio tracks: %lld s", static_cast<long long>(info.CurrentDuration / 1000000)));
    } else {
      // The run knows its frames once its task is built: a break after the last photo leaves out
      // the black tail, and the bar would stop short of the end.
      const std::int64_t frames = Runner != nullptr && Runner->ShowFrames() > 0 ? Runner->ShowFrames() : totalFrames_;
      terminal_.Bar(progress_bar(info, frames));
    }
  }

  // Ctrl-C (or SIGTERM, SIGHUP) is the Stop button; looked for on every turn of the wait.
  void CheckInterrupt() {
    if (!InterruptHandler::Interrupted() || Interrupted || Runner == nullptr) return;
    Interrupted = true;
    terminal_.Line("Stopping: the video is being closed (Ctrl-C again ends at once)");
    Runner->Stop();
  }

  MessageResult ShowMessage(const std::string& text, const std::string&, MessageIcon, MessageButtons buttons) override {
    Messages.push_back(text);
    terminal_.Line("lumivor make: " + text);
    return buttons == MessageButtons::YesNo ? MessageResult::Yes : MessageResult::Ok;
  }

  void AddLine(const std::string& line) override {
    if (parsed_.Log) terminal_.Line(line);
  }

 private:
  const Arguments& parsed_;
  Terminal& terminal_;
  std::int64_t totalFrames_;
};

// Fills in what the arguments left to the format's defaults.
void apply_defaults(Arguments& parsed, int format) {
  if (parsed.ProjectRun) return;  // the project's choices stand where no option was given
  const DefaultChoices* defaults = DefaultChoicesFor(format);
  const DefaultChoices fallback{5, 6, 0, 0, true};
  const DefaultChoices& choices = defaults != nullptr ? *defaults : fallback;
  if (!parsed.Size) parsed.Size = ParseVideoSize(VideoSizeItems[choices.VideoSizeIndex]);
  if (!parsed.Rate) parsed.Rate = std::string(FrameRateItems[choices.FrameRateIndex]);
  if (!parsed.SampleRateIndex) parsed.SampleRateIndex = choices.SampleRateIndex;
  if (!parsed.BitRate) parsed.BitRate = static_cast<int>(*WholeNumber(BitRateItems[choices.BitRateIndex]));
  if (!parsed.HoldGiven) parsed.Hold = static_cast<int>(*WholeNumber(DefaultPhotoDelay));
  if (!parsed.TransitionGiven) parsed.Transition = static_cast<int>(*WholeNumber(DefaultEffectDelay));
  if (!choices.Stereo && !parsed.Mono) parsed.Mono = true;
}

// The run the arguments describe, every default already filled in.
RunRequest run_request(const Arguments& parsed, const OutputPlace& place) {
  if (parsed.ProjectRun) return project_run_request(parsed, place);
  RunRequest request;
  request.Photos = parsed.Photos;
  request.Tracks = parsed.Tracks;
  request.FormatIndex = place.Format;
  request.Width = parsed.Size->Width;
  request.Height = parsed.Size->Height;
  const FrameRateParts rate = ParseFrameRateText(*parsed.Rate);
  request.RateNumerator = rate.Numerator;
  request.RateDenominator = rate.Denominator;
  request.HoldSeconds = parsed.Hold;
  request.TransitionSeconds = parsed.Transition;
  request.Stereo = !parsed.Mono;
  request.SampleRate = SampleRateOfEntry(*parsed.SampleRateIndex);
  request.BitRate = *parsed.BitRate;
  request.MusicEndRule = parsed.MusicEndRule.value_or(MusicEnd::Cut);
  request.Normalize = parsed.Normalize;
  request.BeatSync = parsed.BeatSync;
  request.RandomEffects = parsed.Effects == EffectMode::Random;
  request.EffectOrder = parsed.EffectOrder;
  request.Seed = parsed.Seed;
  request.Screen = parsed.Screen.value_or(ScreenMode::Fit);
  request.Scaler = parsed.Scaler.value_or(PictureScaler::Smooth);
  request.Motion = parsed.Motion.value_or(MotionKind::None);
  request.MotionStrength = parsed.MotionStrength.value_or(DefaultMotionStrength);
  request.OutputFolder = place.Folder;
  request.Realtime = parsed.Realtime;
  request.BreakWhenNoPictures = parsed.BreakWhenNoPictures;
  request.AutoRotate = parsed.AutoRotate;
  request.PreviewSheetFile = parsed.PreviewSheet;
  request.Title = parsed.Title.value_or(std::string());
  request.Subtitle = parsed.Subtitle.value_or(std::string());
  request.Captions = parsed.Captions.value_or(CaptionRule::None);
  return request;
}

int make(Arguments parsed) {
  if (!parsed.Project.empty()) {
    std::string errorText;
    if (!read_project(parsed, errorText)) {
      Terminal().Line("lumivor make: " + errorText);
      return ExitFailed;
    }
  }
  const OutputPlace place = output_place(parsed);
  apply_defaults(parsed, place.Format);
  for (const std::string& photo : parsed.Photos) {
    struct stat info {};
    if (::stat(photo.c_str(), &info) != 0) fail("cannot read photo \"" + photo + "\": " + std::strerror(errno));
    if (!S_ISREG(info.st_mode)) fail("photo \"" + photo + "\" is not a regular file");
  }
  for (const std::string& track : parsed.Tracks) {
    struct stat info {};
    if (::stat(track.c_str(), &info) != 0) fail("cannot read audio \"" + track + "\": " + std::strerror(errno));
    if (!S_ISREG(info.st_mode)) fail("audio \"" + track + "\" is not a regular file");
  }
  // A folder named with a trailing "/" is made here. The window's naming would fall back to a
  // default folder of its own when it cannot make it; on the command line the video goes where
  // -o says or nowhere.
  if (!is_folder(place.Folder)) {
    std::error_code error;
    std::filesystem::create_directories(place.Folder, error);
    if (!is_folder(place.Folder)) {
      fail("cannot create the folder " + place.Folder + (error ? ": " + error.message() : std::string()));
    }
  }

  Terminal terminal;
  // The -o file is written under a temporary name beside it (the engine writes it by that name,
  // whose extension picks the container) and put in place only once the run has written a video,
  // so a run that fails keeps the file that was there before.
  OutputFile file;
  if (!place.File.empty() && parsed.PreviewSheet.empty()) {
    std::string errorText;
    if (!file.Open(place.File, errorText, {.KeepExtension = true, .ReplaceLinks = false})) {
      terminal.Line("lumivor make: " + errorText);
      return ExitFailed;
    }
  }
  TFFLoader& loader = TFFLoader::Instance();
  if (!loader.Load(EncoderLibraries)) {
    terminal.Line("lumivor make: " + loader.LastError());
    return ExitFailed;
  }
  // The library's own printing goes through the logger, which stays silent unless --log asks
  // for its warnings and errors.
  const LogToTerminal logToTerminal(terminal, parsed.Log ? llWarning : llQuiet, parsed.Log);

  RunRequest request = run_request(parsed, place);
  if (file.IsOpen()) request.OutputFile = file.TemporaryName();

  const std::int64_t totalFrames = RequestTiming(request).FrameCount();
  ConsoleFace console(parsed, terminal, totalFrames);
  JobResult result;
  {
    SlideshowRunner runner(console, console, console);
    console.Runner = &runner;
    InterruptHandler interrupts;
    // The run goes on the runner's thread; this thread tells its reports and looks for Ctrl-C.
    constexpr auto WaitTurn = std::chrono::milliseconds(20);
    runner.Begin(request);
    while (!runner.WaitFor(WaitTurn)) console.CheckInterrupt();
    result = runner.LastResult();
    console.Runner = nullptr;
  }
  terminal.EndBar();

  // A run stopped before its output was set (while the tracks were being joined) wrote no video:
  // the -o file keeps what it held and no path is printed.
  const bool videoWritten = !result.OutputFile.empty() &&
                            (result.End == JobEnd::Finished || result.End == JobEnd::Stopped);
  std::string outputFile = result.OutputFile;
  if (file.IsOpen()) {
    outputFile.clear();
    std::string errorText;
    if (!videoWritten) {
      file.Discard();
    } else if (result.End == JobEnd::Stopped && file.ReplacesExistingFile()) {
      // Part of a show is not what the user asked for: the file that was there stays, and the part
      // goes beside it under a name of its own.
      if (!file.CommitBeside("stopped", outputFile, errorText)) {
        terminal.Line("lumivor make: " + errorText);
        return ExitFailed;
      }
      terminal.Line("lumivor make: the stopped video is " + outputFile + "; " + place.File + " was kept as it was");
    } else {
      if (!file.Commit(errorText)) {
        terminal.Line("lumivor make: " + errorText);
        return ExitFailed;
      }
      outputFile = place.File;
    }
  }

  int status = ExitFinished;
  if (result.End == JobEnd::Failed) {
    const bool shown = std::find(console.Messages.begin(), console.Messages.end(), result.ErrorText) !=
                       console.Messages.end();
    if (!shown) terminal.Line("lumivor make: " + (result.ErrorText.empty() ? "the run failed" : result.ErrorText));
    status = ExitFailed;
  } else {
    if (videoWritten) std::cout << outputFile << '\n';
    if (result.End == JobEnd::Stopped) status = ExitStopped;
  }
  if (terminal.Failed() && status == ExitFinished) status = ExitFailed;
  return status;
}

}  // namespace

bool MakeRunRequest(const std::vector<std::string>& arguments, RunRequest& request, std::string& errorText) {
  try {
    Arguments parsed = parse_arguments(arguments);
    if (!parsed.Project.empty() && !read_project(parsed, errorText)) return false;
    const OutputPlace place = output_place(parsed);
    apply_defaults(parsed, place.Format);
    request = run_request(parsed, place);
    return true;
  } catch (const CommandError& error) {
    errorText = error.Text;
    return false;
  }
}

int RunMakeCommand(const std::vector<std::string>& arguments) {
  try {
    Arguments parsed = parse_arguments(arguments);
    if (parsed.Help) {
      std::cout << usage_text();
      return ExitFinished;
    }
    return make(std::move(parsed));
  } catch (const CommandError& error) {
    return ReportCommandError("make", error);
  }
}

}  // namespace lumivor::cli

#include "app/run/audio_tracks.h"

#include <cinttypes>
#include <cstdio>
#include <utility>

#include "app/files/input_file.h"
#include "media/runtime/ff_load.h"

namespace lumivor {

namespace {

template <class... Args>
std::string format(const char* pattern, Args... args) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, pattern, args...);
  return buffer;
}

std::string trim_blanks(const std::string& text) {
  constexpr const char* Blanks = " \t\r\n";
  const auto first = text.find_first_not_of(Blanks);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(Blanks) - first + 1);
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = text.find('\n', begin);
    std::string line = text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    if (end == std::string::npos) return lines;
    begin = end + 1;
  }
}

void append_video_lines(std::vector<std::string>& lines, int index, const TVideoStreamInfo& info) {
  lines.push_back(format("Stream #%d: Video", index));
  lines.push_back(info.DurationUS >= 0 ? "  Video Length: " + FormatTrackDuration(info.DurationUS)
                                       : "  Video Length is not preseted");
  // A stream without a rate has a zero denominator; its rate is shown as 0 rather than inf or nan.
  const double rate =
      info.FrameRateDen != 0 ? static_cast<double>(info.FrameRateNum) / static_cast<double>(info.FrameRateDen) : 0.0;
  lines.push_back(format("  Video Frame Rate: %f", rate));
  lines.push_back(info.BitRate >= 1 ? format("  Video Bit Rate: %d kb", info.BitRate / 1000)
                                    : "  Video Bit Rate is not preseted");
  lines.push_back(format("  Frame size (width X height): %dx%d", info.Width, info.Height));
}

void append_audio_lines(std::vector<std::string>& lines, int index, const TAudioStreamInfo& info) {
  lines.push_back(format("Stream #%d: Audio", index));
  lines.push_back(info.DurationUS >= 0 ? "  Audio Length: " + FormatTrackDuration(info.DurationUS)
                                       : "  Audio Length is not preseted");
  lines.push_back(format("  Audio Sample Rate: %d hz", info.SampleRate));
  lines.push_back(info.BitRate >= 1 ? format("  Audio Bit Rate: %d kb", info.BitRate / 1000)
                                    : "  Audio Bit Rate is not preseted");
}

}  // namespace

std::string FormatTrackDuration(std::int64_t microseconds) {
  const std::int64_t d = microseconds > 0 ? microseconds : 0;
  const std::int64_t seconds = d / 1000000;
  return format("%.2" PRId64 ":%.2" PRId64 ":%.2" PRId64 ".%.3" PRId64, seconds / 3600, (seconds / 60) % 60,
                seconds % 60, (d % 1000000) * 1000 / 1000000);
}

// ---------------------------------------------------------------------------------------------

void AudioTrackList::Changed() {
  if (OnChanged) OnChanged();
}

void AudioTrackList::Select(int row) {
  selected_ = (row >= 0 && row < Count()) ? row : -1;
  Changed();
}

void AudioTrackList::Append(AudioTrack track) {
  rows_.push_back(std::move(track));
  Changed();
}

void AudioTrackList::Clear() {
  rows_.clear();
  selected_ = -1;
  Changed();
}

bool AudioTrackList::MoveSelectedUp() {
  if (Count() < 2 || selected_ <= 0) return false;
  std::swap(rows_[selected_], rows_[selected_ - 1]);
  --selected_;
  Changed();
  return true;
}

bool AudioTrackList::MoveSelectedDown() {
  if (Count() < 2 || selected_ < 0 || selected_ >= Count() - 1) return false;
  std::swap(rows_[selected_], rows_[selected_ + 1]);
  ++selected_;
  Changed();
  return true;
}

// ---------------------------------------------------------------------------------------------

std::vector<std::string> FileReportLines(TCustomDecoder& decoder) {
  std::vector<std::string> lines;
  lines.push_back("***FFDecoder.FileInfoText");
  for (std::string& line : split_lines(trim_blanks(decoder.FileInfoText()))) lines.push_back(std::move(line));
  lines.push_back("");
  lines.push_back(format("File Size: %" PRId64, decoder.FileSize));
  TFileStreamInfo file;
  lines.push_back(decoder.GetFileStreamInfo(file) && file.Duration >= 0
                      ? "File Duration: " + FormatTrackDuration(file.Duration)
                      : "File Duration is not preseted");
  for (int i = 0; i < decoder.StreamCount; ++i) {
    if (decoder.IsVideoStream(i)) {
      TVideoStreamInfo info;
      if (decoder.GetVideoStreamInfo(i, info)) append_video_lines(lines, i, info);
    } else if (decoder.IsAudioStream(i)) {
      TAudioStreamInfo info;
      if (decoder.GetAudioStreamInfo(i, info)) append_audio_lines(lines, i, info);
    }
  }
  return lines;
}

AudioPage::AudioPage(AudioTrackList& tracks, AudioPageView& view, TCustomDecoder& decoder, LogMemo& log,
                     std::vector<ComponentLibraries> loadFirst, const TGlobalObject& global)
    : LibraryFolder(TFFLoader::DefaultLibraryPath()),
      tracks_(tracks),
      view_(view),
      decoder_(decoder),
      log_(log),
      libraries_(std::move(loadFirst)),
      global_(global) {
  libraries_.push_back(LibrariesOf(decoder_));
}

bool AudioPage::EnsureLibraries() {
  for (const ComponentLibraries& component : libraries_) {
    if (component.Loaded()) continue;
    if (!component.Load(LibraryFolder)) {
      log_.AddLine(component.ErrorText());
      return false;
    }
  }
  return true;
}

void AudioPage::btnAddAudioClick() {
  if (!EnsureLibraries()) return;
  const std::vector<std::string> files = view_.ChooseAudioFiles();
  if (files.empty()) return;
  AddFiles(files);
}

bool AudioPage::Open(const std::string& path, std::string& errorText) {
  // The library would wait forever on a FIFO or a device before any time-out could apply.
  std::string reason;
  if (!CheckInputFile(path, reason)) {
    errorText = path + ": " + reason;
    return false;
  }
  if (decoder_.LoadFile(path)) return true;
  errorText = decoder_.LastErrorText;
  return false;
}

std::string AudioPage::DurationTextOf(const std::string& path) {
  TFileStreamInfo info;
  std::string errorText;
  const bool known = Open(path, errorText) && decoder_.GetFileStreamInfo(info) && info.Duration > 0;
  return FormatTrackDuration(known ? info.Duration : 0);
}

void AudioPage::AddFiles(const std::vector<std::string>& files) {
  if (files.empty()) return;
  for (const std::string& path : files) tracks_.Append({path, DurationTextOf(path)});

  const std::string& first = files.front();
  std::string errorText;
  if (!Open(first, errorText)) {
    log_.AddLine("");
    log_.AddLine("***File load error: " + errorText);
    log_.AddLine("");
    decoder_.CloseFile();  // a row's file may still be open when the first one was refused unopened
    return;
  }
  lastAudioFile_ = first;
  for (const std::string& line : FileReportLines(decoder_)) log_.AddLine(line);
  if (decoder_.AudioStreamCount > 0) {
    view_.SetWindowTitle(global_.ProductName() + " ver" + global_.VersionText() + " " + lastAudioFile_);
    EnableAfterAdd();
  }
  decoder_.CloseFile();
}

void AudioPage::EnableAfterAdd() {
  view_.SetStartEnabled(true);
  view_.FocusStart();
  view_.SetAddAudioEnabled(true);
  view_.SetUpEnabled(true);
  view_.SetDownEnabled(true);
  view_.SetClearAudioEnabled(true);
  view_.SetPlayEnabled(true);
  view_.SetPlayerStopEnabled(true);
  view_.SetPlayerPauseEnabled(true);
}

void AudioPage::btnUpClick() { tracks_.MoveSelectedUp(); }

void AudioPage::btnDownClick() { tracks_.MoveSelectedDown(); }

void AudioPage::btnClearClick() {
  tracks_.Clear();
  view_.SetStopEnabled(false);
  view_.SetPauseEnabled(false);
  view_.SetAddAudioEnabled(true);
  view_.SetUpEnabled(false);
  view_.SetDownEnabled(false);
  view_.SetPlayEnabled(false);
  view_.SetPlayerStopEnabled(false);
  view_.SetPlayerPauseEnabled(false);
  view_.SetClearAudioEnabled(false);
}

// ---------------------------------------------------------------------------------------------

AudioRowPaint AudioRowColours(int rowIndex, bool selected, bool focused) {
  constexpr RowColour OddRow{226, 230, 246}, EvenRow{255, 255, 255};
  constexpr RowColour SelectedFocused{185, 204, 236}, Selected{229, 236, 248};
  constexpr RowColour FrameFocused{122, 160, 218}, Frame{152, 181, 226};
  if (selected) return {focused ? SelectedFocused : Selected, focused ? FrameFocused : Frame};
  return {rowIndex % 2 != 0 ? OddRow : EvenRow, std::nullopt};
}

}  // namespace lumivor

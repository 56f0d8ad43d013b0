// The "Add Audios" page without a toolkit: the ordered list of tracks laid under the slideshow,
// with their durations read by the decoder component, and its Add Audio, Up, Down and Clear
// commands. The Qt window shows AudioTrackList through a list model, implements AudioPageView and
// calls the handlers; every call is made on the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/common/global_object.h"
#include "app/common/window_services.h"
#include "media/components/ff_decoder.h"

namespace lumivor {

// "%.2d:%.2d:%.2d.%.3d" (hours, minutes, seconds, milliseconds), truncating; the hours take as many
// digits as they need. Negative durations (unknown) count as 0.
std::string FormatTrackDuration(std::int64_t microseconds);

struct AudioTrack {
  std::string Path;          // the "Audio Files" column
  std::string DurationText;  // the "Duration" column
};

// Rows in playing order and at most one selected row.
class AudioTrackList {
 public:
  const std::vector<AudioTrack>& Rows() const { return rows_; }
  int Count() const { return static_cast<int>(rows_.size()); }
  bool Empty() const { return rows_.empty(); }
  // -1 when no row is selected.
  int Selected() const { return selected_; }
  // The user's selection; an index that is no row selects nothing.
  void Select(int row);

  void Append(AudioTrack track);
  void Clear();
  // The selected row changes places with the one before (after) it and stays selected. Nothing
  // changes when no row or the first (last) row is selected; false then.
  bool MoveSelectedUp();
  bool MoveSelectedDown();

  // Called after every change of rows or selection, so that a view can redraw.
  std::function<void()> OnChanged;

 private:
  void Changed();
  std::vector<AudioTrack> rows_;
  int selected_ = -1;
};

// What the audio page asks of the window. The setters that MainWindowView or SettingsView also
// declare have the same signatures, so a window implementing several writes each once.
class AudioPageView {
 public:
  virtual ~AudioPageView() = default;

  // The open-file dialog: multi-selection, existing files only, AudioFileFilter. The chosen
  // paths in the dialog's order (the file the dialog names first comes first); empty on Cancel.
  virtual std::vector<std::string> ChooseAudioFiles() = 0;

  virtual void SetWindowTitle(const std::string& title) = 0;
  virtual void SetStartEnabled(bool enabled) = 0;  // btnStart
  virtual void FocusStart() = 0;
  virtual void SetStopEnabled(bool enabled) = 0;   // btnStop (the encoder's)
  virtual void SetPauseEnabled(bool enabled) = 0;  // btnPause (the encoder's)
  virtual void SetAddAudioEnabled(bool enabled) = 0;
  virtual void SetUpEnabled(bool enabled) = 0;
  virtual void SetDownEnabled(bool enabled) = 0;
  virtual void SetClearAudioEnabled(bool enabled) = 0;
  virtual void SetPlayEnabled(bool enabled) = 0;
  virtual void SetPlayerStopEnabled(bool enabled) = 0;   // btnPlayStop
  virtual void SetPlayerPauseEnabled(bool enabled) = 0;  // btnPlayPause
};

inline constexpr const char* AudioFileFilter =
    "All Supported Audio Formats|*.AAC;*.AC3;*.APE;*.DTS;*.FLAC;*.M4A;*.MKA;*.MP2;*.MP3;*.MPA;*.MPC;*.OFR;*.OGG;"
    "*.RA;*.TTA;*.WAV;*.WMA;|All Supported Video Formats|*.3GP;*.ASF;*.AVI;*.AVM;*.AVS;*.DAT;*.FLV;*.MKV;*.MOV;"
    "*.MP4;*.MPEG;*.MPG;*.NSV;*.OGM;*.RM;*.RMVB;*.TP;*.TS;*.VOB;*.WMV;";

// A component whose media libraries Add Audio makes sure of: any of them (the encoder, the
// decoder) through LibrariesOf.
struct ComponentLibraries {
  std::function<bool()> Loaded;
  std::function<bool(const std::string& folder)> Load;
  std::function<std::string()> ErrorText;
};

template <class Component>
ComponentLibraries LibrariesOf(Component& component) {
  return {[&component] { return component.LibrariesLoaded(); },
          [&component](const std::string& folder) { return component.LoadLibraries(folder); },
          [&component] { return component.LastErrorText; }};
}

class AudioPage {
 public:
  // loadFirst: the components whose libraries are loaded before the decoder's (the encoder's).
  AudioPage(AudioTrackList& tracks, AudioPageView& view, TCustomDecoder& decoder, LogMemo& log,
            std::vector<ComponentLibraries> loadFirst = {}, const TGlobalObject& global = GlobalObject());

  // The folder the libraries are loaded from: "LibAV" beside the executable.
  std::string LibraryFolder;

  // Loads the libraries, asks for files and adds them (AddFiles).
  void btnAddAudioClick();
  // Appends one row per file with its duration, then reports the first file in the log and, when
  // it has sound, names it in the title and enables the page.
  void AddFiles(const std::vector<std::string>& files);
  void btnUpClick();
  void btnDownClick();
  void btnClearClick();

  // The first file of the last Add that could be opened.
  const std::string& LastAudioFile() const { return lastAudioFile_; }

 private:
  bool EnsureLibraries();
  bool Open(const std::string& path, std::string& errorText);
  std::string DurationTextOf(const std::string& path);
  void ReportFile();
  void EnableAfterAdd();

  AudioTrackList& tracks_;
  AudioPageView& view_;
  TCustomDecoder& decoder_;
  LogMemo& log_;
  std::vector<ComponentLibraries> libraries_;
  const TGlobalObject& global_;
  std::string lastAudioFile_;
};

// The diagnostic lines of the file the decoder has open, as Add Audio writes them to the log.
std::vector<std::string> FileReportLines(TCustomDecoder& decoder);

// ------------------------------------------------------------------ list drawing

struct RowColour {
  std::uint8_t R, G, B;
  bool operator==(const RowColour&) const = default;
};

struct AudioRowPaint {
  RowColour Fill;
  std::optional<RowColour> Frame;  // only around a selected row
};

// Alternate rows are tinted so that long paths stay easy to follow across the two columns; the
// selection is softer while the list has no focus.
AudioRowPaint AudioRowColours(int rowIndex, bool selected, bool focused);

// The fill leaves this many pixels of the row's bounds free on the left and on the right.
inline constexpr int AudioRowFillInset = 1;
// The first column's text keeps this many pixels from each side of its cell.
inline constexpr int AudioFirstColumnTextInset = 3;

}  // namespace lumivor

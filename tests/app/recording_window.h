// A main window without a toolkit for the run tests: it records what the run commands show and
// answers with the choices a test sets.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "app/common/window_services.h"
#include "app/window/main_window.h"
#include "media/runtime/main_thread.h"

namespace lumivor::testing {

struct RecordedMessage {
  std::string Text, Caption;
  MessageIcon Icon;
};

class RecordingWindow : public MainWindowView, public MessageBoxes, public LogMemo {
 public:
  // Choices the run reads.
  std::string VideoSize = "160x120";
  std::string FrameRate = "10:1";
  std::string PhotoDelay = "1";
  std::string EffectDelay = "1";
  int Format = 0;
  bool RandomEffects = true;
  bool BreakWhenNoPictures = false;
  std::string OutputFolder = "/tmp/unused";
  std::vector<std::string> PhotosToChoose;

  // What the run showed.
  bool StartEnabled = true, PauseEnabled = false, StopEnabled = false, ExitEnabled = true, TabsEnabled = true;
  bool BrowsEnabled = true, OpenEnabled = true, AddPhotosEnabled = true, AddAudioEnabled = true, FormatEnabled = true;
  bool StopFocused = false;
  std::string PauseCaption = "Pause";
  std::string Status;
  int Progress = 0;
  int ChooseCalls = 0;
  std::vector<std::string> ShownPhotos;
  std::vector<std::string> OpenedFolders;
  std::vector<RecordedMessage> Messages;
  std::vector<std::string> LogLines;
  // Run by the test's wait for the run's end on every turn, as a person's clicks would come from
  // the event loop.
  std::function<void()> OnWaitTurn;
  // Calls that came on another thread than the main thread: each is a fault, the window's widgets
  // belong to the main thread.
  std::atomic<int> OffMainThreadCalls{0};

  void SetStartEnabled(bool on) override { Seen(); StartEnabled = on; }
  void SetPauseEnabled(bool on) override { Seen(); PauseEnabled = on; }
  void SetStopEnabled(bool on) override { Seen(); StopEnabled = on; }
  void SetExitEnabled(bool on) override { Seen(); ExitEnabled = on; }
  void SetTabsEnabled(bool on) override { Seen(); TabsEnabled = on; }
  void SetBrowsEnabled(bool on) override { Seen(); BrowsEnabled = on; }
  void SetOpenEnabled(bool on) override { Seen(); OpenEnabled = on; }
  void SetAddPhotosEnabled(bool on) override { Seen(); AddPhotosEnabled = on; }
  void SetAddAudioEnabled(bool on) override { Seen(); AddAudioEnabled = on; }
  void SetFormatEnabled(bool on) override { Seen(); FormatEnabled = on; }
  void FocusStop() override { Seen(); StopFocused = true; }
  void SetPauseCaption(const std::string& caption) override { Seen(); PauseCaption = caption; }
  void SetStatusText(const std::string& text) override { Seen(); Status = text; }
  void SetProgressPosition(int position) override { Seen(); Progress = position; }

  std::string VideoSizeText() override { Seen(); return VideoSize; }
  std::string FrameRateText() override { Seen(); return FrameRate; }
  std::string PhotoDelayText() override { Seen(); return PhotoDelay; }
  std::string EffectDelayText() override { Seen(); return EffectDelay; }
  int FormatIndex() override { Seen(); return Format; }
  bool RandomEffectsChecked() override { Seen(); return RandomEffects; }
  bool BreakWhenNoPicturesChecked() override { Seen(); return BreakWhenNoPictures; }
  std::string OutputFolderText() override { Seen(); return OutputFolder; }
  std::vector<std::string> ChoosePhotoFiles() override {
    Seen();
    ++ChooseCalls;
    return PhotosToChoose;
  }
  void ShowPhotos(const std::vector<std::string>& photos) override { Seen(); ShownPhotos = photos; }
  void OpenFolder(const std::string& folder) override { Seen(); OpenedFolders.push_back(folder); }

  MessageResult ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                            MessageButtons buttons) override {
    Seen();
    Messages.push_back({text, caption, icon});
    return buttons == MessageButtons::YesNo ? MessageResult::Yes : MessageResult::Ok;
  }
  void AddLine(const std::string& line) override { Seen(); LogLines.push_back(line); }

  bool Idle() const {
    return StartEnabled && !PauseEnabled && !StopEnabled && ExitEnabled && TabsEnabled && BrowsEnabled &&
           OpenEnabled && AddPhotosEnabled && AddAudioEnabled && FormatEnabled;
  }
  bool RunningState() const { return !StartEnabled && PauseEnabled && StopEnabled && !ExitEnabled && !TabsEnabled; }

 private:
  void Seen() {
    if (!IsMainThread()) ++OffMainThreadCalls;
  }
};

}  // namespace lumivor::testing

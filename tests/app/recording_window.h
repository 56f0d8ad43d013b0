// A main window without a toolkit for the run tests: it records what the run commands show and
// answers with the choices a test sets.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/window/main_window.h"
#include "app/common/window_services.h"

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
  int ProcessCalls = 0;
  std::vector<std::string> ShownPhotos;
  std::vector<std::string> OpenedFolders;
  std::vector<RecordedMessage> Messages;
  std::vector<std::string> LogLines;
  // Runs on every turn of a wait loop, as a person's clicks would.
  std::function<void()> OnProcessMessages;

  void SetStartEnabled(bool on) override { StartEnabled = on; }
  void SetPauseEnabled(bool on) override { PauseEnabled = on; }
  void SetStopEnabled(bool on) override { StopEnabled = on; }
  void SetExitEnabled(bool on) override { ExitEnabled = on; }
  void SetTabsEnabled(bool on) override { TabsEnabled = on; }
  void SetBrowsEnabled(bool on) override { BrowsEnabled = on; }
  void SetOpenEnabled(bool on) override { OpenEnabled = on; }
  void SetAddPhotosEnabled(bool on) override { AddPhotosEnabled = on; }
  void SetAddAudioEnabled(bool on) override { AddAudioEnabled = on; }
  void SetFormatEnabled(bool on) override { FormatEnabled = on; }
  void FocusStop() override { StopFocused = true; }
  void SetPauseCaption(const std::string& caption) override { PauseCaption = caption; }
  void SetStatusText(const std::string& text) override { Status = text; }
  void SetProgressPosition(int position) override { Progress = position; }

  std::string VideoSizeText() override { return VideoSize; }
  std::string FrameRateText() override { return FrameRate; }
  std::string PhotoDelayText() override { return PhotoDelay; }
  std::string EffectDelayText() override { return EffectDelay; }
  int FormatIndex() override { return Format; }
  bool RandomEffectsChecked() override { return RandomEffects; }
  bool BreakWhenNoPicturesChecked() override { return BreakWhenNoPictures; }
  std::string OutputFolderText() override { return OutputFolder; }
  std::vector<std::string> ChoosePhotoFiles() override {
    ++ChooseCalls;
    return PhotosToChoose;
  }
  void ShowPhotos(const std::vector<std::string>& photos) override { ShownPhotos = photos; }
  void ProcessMessages() override {
    ++ProcessCalls;
    if (OnProcessMessages) OnProcessMessages();
  }
  void OpenFolder(const std::string& folder) override { OpenedFolders.push_back(folder); }

  MessageResult ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                            MessageButtons buttons) override {
    Messages.push_back({text, caption, icon});
    return buttons == MessageButtons::YesNo ? MessageResult::Yes : MessageResult::Ok;
  }
  void AddLine(const std::string& line) override { LogLines.push_back(line); }

  bool Idle() const {
    return StartEnabled && !PauseEnabled && !StopEnabled && ExitEnabled && TabsEnabled && BrowsEnabled &&
           OpenEnabled && AddPhotosEnabled && AddAudioEnabled && FormatEnabled;
  }
  bool RunningState() const { return !StartEnabled && PauseEnabled && StopEnabled && !ExitEnabled && !TabsEnabled; }
};

}  // namespace lumivor::testing

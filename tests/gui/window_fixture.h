// A main window over a settings file and a home folder of its own: each test starts as a first
// run, and nothing of the user's is read or written.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <QTest>
#include <gtest/gtest.h>

#include "app/common/global_object.h"
#include "gui/main_form.h"
#include "support/scratch_folder.h"

namespace lumivor::gui {

// Whatever the window asks is recorded and answered with a fixed reply.
struct MessageRecorder {
  std::vector<ShownMessage> Shown;
  MessageResult Reply = MessageResult::Yes;
  void AnswerFor(TfrmMain& window) {
    window.Messages().Answer = [this](const ShownMessage& message) {
      Shown.push_back(message);
      return Reply;
    };
  }
};

class WindowTest : public ::testing::Test {
 protected:
  WindowTest() {
    if (const char* home = ::getenv("HOME")) oldHome_ = home;
    std::filesystem::create_directories(Home());
    ::setenv("HOME", Home().c_str(), 1);
    oldSettingsFile_ = GlobalObject().SettingsFile();
    GlobalObject().SetSettingsFile(SettingsFile());
  }
  ~WindowTest() override {
    GlobalObject().SetSettingsFile(oldSettingsFile_);
    if (oldHome_) {
      ::setenv("HOME", oldHome_->c_str(), 1);
    } else {
      ::unsetenv("HOME");
    }
  }

  std::string Home() const { return scratch_ / "home"; }
  std::string SettingsFile() const { return scratch_ / "config/lumivor.ini"; }
  const testing::ScratchFolder& Scratch() const { return scratch_; }

  // A window shown (so its settings are restored) with its message boxes answered.
  std::unique_ptr<TfrmMain> ShowWindow() {
    auto window = std::make_unique<TfrmMain>();
    messages.AnswerFor(*window);
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    return window;
  }
  // Closes without asking: the tests about closing ask themselves.
  static void Dismiss(TfrmMain& window) {
    window.Messages().Answer = [](const ShownMessage&) { return MessageResult::Yes; };
    window.close();
  }

  MessageRecorder messages;

 private:
  testing::ScratchFolder scratch_;
  std::optional<std::string> oldHome_;
  std::string oldSettingsFile_;
};

}  // namespace lumivor::gui

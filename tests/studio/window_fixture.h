// A Studio window whose questions and warnings are answered and recorded by the test.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QMessageBox>
#include <gtest/gtest.h>

#include "studio/studio_window.h"
#include "studio_test_support.h"

namespace lumivor::studio {

struct Warning {
  QString Caption, Text;
};

class StudioWindowTest : public ::testing::Test {
 protected:
  std::unique_ptr<StudioWindow> MakeWindow() {
    auto window = std::make_unique<StudioWindow>();
    window->Warn = [this](const QString& caption, const QString& text) { warnings.push_back({caption, text}); };
    window->AskToSave = [this](const QString& text) {
      questions.push_back(text);
      return answer;
    };
    return window;
  }
  ~StudioWindowTest() override = default;
  // Runs the event loop until the window's track lengths are read; false after ten seconds.
  static bool WaitForTrackLengths(StudioWindow& window) {
    return QTest::qWaitFor([&] { return window.Lengths().Pending() == 0; }, 10000);
  }

  testing::ScratchFolder folder;
  std::vector<Warning> warnings;
  std::vector<QString> questions;
  QMessageBox::StandardButton answer = QMessageBox::Discard;
};

}  // namespace lumivor::studio

// A fixture for engine tests that call the media libraries: the libraries are loaded, everything
// logged is collected in Lines (delivered directly, not through the main thread), and the logger's
// settings are restored afterwards.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/runtime/ff_load.h"
#include "media/runtime/ff_log.h"

namespace lumivor::testing_engine {

struct LogLine {
  const void* Sender;
  TLogLevel Level;
  std::string Text;
};

class LibraryLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TFFLoader::Instance().Load(AllLibraries)) << TFFLoader::Instance().LastError();
    TFFLogger& logger = DefaultLogger();
    savedLevel_ = logger.LogLevel();
    savedTrigger_ = logger.TriggerEventInMainThread();
    logger.SetTriggerEventInMainThread(false);
    logger.InstallLogCallback();
    logger.SetLogLevel(llInfo);
    logger.SetOnLog([this](const void* sender, int, TLogLevel level, const std::string& text) {
      Lines.push_back({sender, level, text});
    });
  }
  void TearDown() override {
    TFFLogger& logger = DefaultLogger();
    logger.SetOnLog(nullptr);
    logger.SetLogLevel(savedLevel_);
    logger.ApplyLogLevel();
    logger.SetTriggerEventInMainThread(savedTrigger_);
  }

  bool Logged(TLogLevel level, const std::string& text) const {
    for (const LogLine& line : Lines) {
      if (line.Level == level && line.Text.find(text) != std::string::npos) return true;
    }
    return false;
  }

  std::vector<LogLine> Lines;

 private:
  TLogLevel savedLevel_ = llInfo;
  bool savedTrigger_ = true;
};

}  // namespace lumivor::testing_engine

// Each reader of the output folder with its own default and fallback.
#include "app/settings/output_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "settings_test_support.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

using testing::EnvironmentOverride;
using testing::ScratchFolder;
using testing::WriteText;

struct ShownMessage {
  std::string Text, Caption;
  MessageIcon Icon;
  MessageButtons Buttons;
};

class RecordingMessageBoxes : public MessageBoxes {
 public:
  MessageResult ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                            MessageButtons buttons) override {
    shown.push_back({text, caption, icon, buttons});
    return MessageResult::Ok;
  }
  std::vector<ShownMessage> shown;
};

bool IsFolder(const std::string& path) { return std::filesystem::is_directory(path); }

class OutputFolderTest : public ::testing::Test {
 protected:
  OutputFolderTest() : home_("HOME", scratch_ / "home") {
    std::filesystem::create_directory(scratch_ / "home");
    WriteText(scratch_ / "file", "");
  }
  std::string Home() const { return scratch_ / "home"; }
  // A folder that cannot be made: one of its parents is a file.
  std::string Impossible() const { return scratch_ / "file/out"; }

  ScratchFolder scratch_;
  EnvironmentOverride home_;
  MemorySettingsStore store_;
  RecordingMessageBoxes messages_;
};

TEST_F(OutputFolderTest, NamingAndOpenCreateTheFolderOrFallBackWithAMessage) {
  using Reader = std::function<std::string(SettingsStore&, MessageBoxes&)>;
  struct Case {
    const char* name;
    Reader read;
    std::optional<std::string> stored;
    std::string expected;  // the folder returned, existing and stored afterwards when a message was shown
    std::string message;   // empty: none
  };
  const Reader naming = OutputFolderForNaming;
  const Reader open = OutputFolderForOpen;
  const Case cases[] = {
      {"naming, missing key", naming, std::nullopt, Home() + "/Mevaro", ""},
      {"naming, new nested folder", naming, scratch_ / "a/b/c", scratch_ / "a/b/c", ""},
      {"naming, impossible folder", naming, Impossible(), Home() + "/Mevaro",
       "Cannot create output directory:" + Impossible() + ".It will create default directory " + Home() +
           "/Mevaro!"},
      {"open, missing key", open, std::nullopt, Home() + "/MyVideo", ""},
      {"open, existing folder", open, Home(), Home(), ""},
      {"open, impossible folder", open, Impossible(), Home() + "/MyVideos",
       "Can not create output directory:" + Impossible() + ".It will create default directory" + Home() + "/MyVideos"},
      {"open, empty text", open, "", Home() + "/MyVideos",
       "Can not create output directory:.It will create default directory" + Home() + "/MyVideos"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemorySettingsStore store;
    RecordingMessageBoxes messages;
    if (c.stored) store.WriteString(settings_key::OutPutDir, *c.stored);

    EXPECT_EQ(c.read(store, messages), c.expected);
    EXPECT_TRUE(IsFolder(c.expected));
    if (c.message.empty()) {
      EXPECT_TRUE(messages.shown.empty());
      EXPECT_EQ(store.Find(settings_key::OutPutDir), c.stored) << "nothing stored without a fallback";
    } else {
      ASSERT_EQ(messages.shown.size(), 1u);
      EXPECT_EQ(messages.shown[0].Text, c.message);
      EXPECT_EQ(messages.shown[0].Caption, "Warning");
      EXPECT_EQ(messages.shown[0].Buttons, MessageButtons::Ok);
      EXPECT_EQ(store.ReadString(settings_key::OutPutDir, ""), c.expected);
    }
    std::filesystem::remove_all(c.expected);
  }
}

TEST_F(OutputFolderTest, TheJoinerKeepsItsFolderAndMakesItWhenMissing) {
  EXPECT_EQ(OutputFolderForJoiner(store_), Home() + "/Vantrel");
  EXPECT_TRUE(IsFolder(Home() + "/Vantrel"));

  // On a first run the stored folder is not there yet; the join must still be able to write into it.
  store_.WriteString(settings_key::OutPutDir, Home() + "/lumivor");
  EXPECT_EQ(OutputFolderForJoiner(store_), Home() + "/lumivor");
  EXPECT_TRUE(IsFolder(Home() + "/lumivor"));

  store_.WriteString(settings_key::OutPutDir, Impossible());
  EXPECT_EQ(OutputFolderForJoiner(store_), Impossible()) << "no other folder takes its place";
  EXPECT_TRUE(messages_.shown.empty());
}

}  // namespace
}  // namespace lumivor

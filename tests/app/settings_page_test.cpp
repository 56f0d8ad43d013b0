// The settings page over a recording view and a real settings file.
#include "app/settings/settings_page.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/run/conversion_job.h"
#include "settings_test_support.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

using testing::EnvironmentOverride;
using testing::ReadText;
using testing::ScratchFolder;
using testing::WriteText;

// Behaves like the window's controls: selecting an entry shows its text, -1 or an index that is no
// entry empties the box, typing leaves no entry selected.
class FakeSettingsView : public SettingsView {
 public:
  FakeSettingsView() {
    // Filled when the window is built, not when it is shown.
    for (std::string_view item : FrameRateItems) lists[SettingsChoice::FrameRate].Items.emplace_back(item);
  }

  struct List {
    std::vector<std::string> Items;
    int Index = -1;
    std::string Text;
  };
  std::map<SettingsChoice, List> lists;
  bool stereo = true, mono = false;
  std::string photoDelay, effectDelay, folder, title;
  bool folderEnabled = true, start = false, pause = true, stop = true, exit = false, randomEffects = false;
  std::vector<SettingsChoice> fillOrder;

  // The user's actions.
  void Choose(SettingsChoice choice, int index) { SetItemIndex(choice, index); }
  void Type(SettingsChoice choice, const std::string& text) {
    lists[choice].Index = -1;
    lists[choice].Text = text;
  }

  void SetItems(SettingsChoice choice, const std::vector<std::string>& items) override {
    fillOrder.push_back(choice);
    lists[choice] = List{items, -1, ""};
  }
  void SetItemIndex(SettingsChoice choice, int index) override {
    List& list = lists[choice];
    const bool entry = index >= 0 && index < static_cast<int>(list.Items.size());
    list.Index = entry ? index : -1;
    list.Text = entry ? list.Items[index] : "";
  }
  int ItemIndex(SettingsChoice choice) override { return lists[choice].Index; }
  std::string ItemText(SettingsChoice choice) override { return lists[choice].Text; }
  void SetStereoChecked(bool checked) override {
    stereo = checked;
    if (checked) mono = false;
  }
  void SetMonoChecked(bool checked) override {
    mono = checked;
    if (checked) stereo = false;
  }
  bool StereoChecked() override { return stereo; }
  bool MonoChecked() override { return mono; }
  void SetPhotoDelayText(const std::string& text) override { photoDelay = text; }
  void SetEffectDelayText(const std::string& text) override { effectDelay = text; }
  std::string PhotoDelayText() override { return photoDelay; }
  std::string EffectDelayText() override { return effectDelay; }
  void SetOutputFolderText(const std::string& text) override { folder = text; }
  void SetOutputFolderEnabled(bool enabled) override { folderEnabled = enabled; }
  std::string OutputFolderText() override { return folder; }
  void SetStartEnabled(bool enabled) override { start = enabled; }
  void SetPauseEnabled(bool enabled) override { pause = enabled; }
  void SetStopEnabled(bool enabled) override { stop = enabled; }
  void SetExitEnabled(bool enabled) override { exit = enabled; }
  void SetRandomEffectsChecked(bool checked) override { randomEffects = checked; }
  void SetWindowTitle(const std::string& text) override { title = text; }
};

// A home folder and a settings file inside one scratch folder.
class SettingsPageTest : public ::testing::Test {
 protected:
  SettingsPageTest()
      : home_("HOME", scratch_ / "home"), store_(scratch_ / "config/lumivor.ini"), page_(view_, store_) {
    std::filesystem::create_directory(scratch_ / "home");
  }

  std::string Home() const { return scratch_ / "home"; }
  std::string FileText() const { return ReadText(store_.FileName()); }
  std::string Stored(std::string_view key) const { return store_.ReadString(key, "(missing)"); }

  ScratchFolder scratch_;
  EnvironmentOverride home_;
  FakeSettingsView view_;
  IniSettingsStore store_;
  SettingsPage page_;
};

TEST_F(SettingsPageTest, FirstRunShowsTheDefaultsAndLeavesOnlyTheFolderAndTheFlag) {
  page_.FormShow();

  EXPECT_EQ(view_.lists[SettingsChoice::Format].Text, "mp4");
  EXPECT_EQ(view_.lists[SettingsChoice::Quality].Text, "0 (Highest Quality)");
  EXPECT_EQ(view_.lists[SettingsChoice::VideoSize].Text, "128x96");
  EXPECT_EQ(view_.lists[SettingsChoice::FrameRate].Text, "30:1");
  EXPECT_EQ(view_.lists[SettingsChoice::SampleRate].Text, "as source");
  EXPECT_EQ(view_.lists[SettingsChoice::BitRate].Index, -1) << "the bit-rate list keeps no selection";
  EXPECT_EQ(view_.lists[SettingsChoice::BitRate].Items.size(), std::size(BitRateItems));
  EXPECT_TRUE(view_.stereo);
  EXPECT_FALSE(view_.mono);
  EXPECT_EQ(view_.photoDelay, "5");
  EXPECT_EQ(view_.effectDelay, "2");
  EXPECT_EQ(view_.folder, Home() + "/lumivor");
  EXPECT_FALSE(view_.folderEnabled);
  EXPECT_TRUE(view_.start && view_.exit && view_.randomEffects);
  EXPECT_FALSE(view_.pause || view_.stop);
  EXPECT_EQ(view_.title, "Lumivor Free Ver" + GlobalObject().VersionText());
  const std::vector<SettingsChoice> fillOrder = {SettingsChoice::SampleRate, SettingsChoice::Format,
                                                 SettingsChoice::BitRate, SettingsChoice::Quality,
                                                 SettingsChoice::VideoSize};
  EXPECT_EQ(view_.fillOrder, fillOrder);

  EXPECT_EQ(FileText(), "[settings]\nOutPutDir=" + Home() + "/lumivor\nfirstrun=0\n");
  EXPECT_FALSE(std::filesystem::exists(Home() + "/lumivor")) << "window show creates no folder";
}

TEST_F(SettingsPageTest, StoredChoicesComeBackAndADeletedFolderIsReplaced) {
  std::filesystem::create_directories(scratch_ / "config");
  WriteText(store_.FileName(), "[Settings]\nFirstRun=0\nOutPutDir=" + (scratch_ / "deleted") +
                                   "\nformat=3\nqualityindex=6\nvideosizeindex=14\nframerateindex=2\n"
                                   "samplerate=4\nstereo=0\nmono=1\nPhotoDelay=12\nEffectDelay=0\n");
  page_.FormShow();

  EXPECT_EQ(view_.lists[SettingsChoice::Format].Text, "wmv");
  EXPECT_EQ(view_.lists[SettingsChoice::Quality].Text, "6 (Recommend)");
  EXPECT_EQ(view_.lists[SettingsChoice::VideoSize].Text, "1280x960");
  EXPECT_EQ(view_.lists[SettingsChoice::FrameRate].Text, "15:1");
  EXPECT_EQ(view_.lists[SettingsChoice::SampleRate].Text, "44100");
  EXPECT_FALSE(view_.stereo);
  EXPECT_TRUE(view_.mono);
  EXPECT_EQ(view_.photoDelay, "12");
  EXPECT_EQ(view_.effectDelay, "0");
  EXPECT_EQ(view_.folder, Home() + "/lumivor");
  EXPECT_EQ(Stored(settings_key::OutPutDir), Home() + "/lumivor");
  EXPECT_EQ(Stored(settings_key::FirstRun), "0");

  // A folder that exists is kept as it is.
  std::filesystem::create_directory(scratch_ / "mine");
  store_.WriteString(settings_key::OutPutDir, scratch_ / "mine");
  FakeSettingsView again;
  SettingsPage(again, store_).FormShow();
  EXPECT_EQ(again.folder, scratch_ / "mine");
}

TEST_F(SettingsPageTest, ATypedFrameSizeIsStoredAsNoEntryAndComesBackEmpty) {
  page_.FormShow();
  view_.Type(SettingsChoice::VideoSize, "300x200");
  page_.cmbVideoSizeChange();
  EXPECT_EQ(Stored(settings_key::VideoSizeIndex), "-1");
  EXPECT_EQ(Stored(settings_key::VideoSize), "300x200");

  FakeSettingsView next;
  SettingsPage(next, store_).FormShow();
  EXPECT_EQ(next.lists[SettingsChoice::VideoSize].Index, -1);
  EXPECT_EQ(next.lists[SettingsChoice::VideoSize].Text, "");
}

TEST_F(SettingsPageTest, EachHandlerStoresItsKeysAtOnce) {
  page_.FormShow();
  struct Case {
    const char* name;
    std::function<void()> act;
    std::map<std::string_view, std::string> stored;
  };
  const Case cases[] = {
      {"format", [&] { view_.Choose(SettingsChoice::Format, 5), page_.cmbFormatChange(); },
       {{settings_key::Format, "5"}}},
      {"quality", [&] { view_.Choose(SettingsChoice::Quality, 10), page_.cmbQualityChange(); },
       {{settings_key::QualityIndex, "10"}}},
      {"frame size", [&] { view_.Choose(SettingsChoice::VideoSize, 6), page_.cmbVideoSizeChange(); },
       {{settings_key::VideoSizeIndex, "6"}, {settings_key::VideoSize, "320x240"}}},
      {"frame rate", [&] { view_.Choose(SettingsChoice::FrameRate, 1), page_.cmbFramerateChange(); },
       {{settings_key::FrameRateIndex, "1"}, {settings_key::FrameRate, "25:1"}}},
      {"sample rate", [&] { view_.Choose(SettingsChoice::SampleRate, 2), page_.cmbSampleRateChange(); },
       {{settings_key::SampleRate, "2"}}},
      {"bit rate", [&] { view_.Choose(SettingsChoice::BitRate, 8), page_.cmbBitRateChange(); },
       {{settings_key::BitRateIndex, "8"}, {settings_key::BitRate, "1500"}}},
      {"mono", [&] { view_.SetMonoChecked(true), page_.rdoMonoClick(); },
       {{settings_key::Stereo, "0"}, {settings_key::Mono, "1"}}},
      {"stereo", [&] { view_.SetStereoChecked(true), page_.rdoStereoClick(); },
       {{settings_key::Stereo, "1"}, {settings_key::Mono, "0"}}},
      {"photo up-down", [&] { view_.photoDelay = "6", page_.UpDownPhotoClick(); }, {{settings_key::PhotoDelay, "6"}}},
      {"effect up-down", [&] { view_.effectDelay = "3", page_.UpDownEffectClick(); },
       {{settings_key::EffectDelay, "3"}}},
      {"exit", [&] { view_.photoDelay = "7", view_.effectDelay = "4", page_.StoreDelays(); },
       {{settings_key::PhotoDelay, "7"}, {settings_key::EffectDelay, "4"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.act();
    for (const auto& [key, value] : c.stored) EXPECT_EQ(Stored(key), value) << key;
  }
}

TEST_F(SettingsPageTest, DefaultResetsTheChoicesOfTheSelectedFormat) {
  struct Case {
    int format;
    const char* bitRate;  // nullptr: nothing but the delays changes
  };
  const Case cases[] = {{0, "1200"}, {1, "768"}, {2, "768"}, {3, "1200"}, {4, "1200"}, {5, "1200"}, {-1, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    ScratchFolder config;
    IniSettingsStore store(config / "lumivor.ini");
    FakeSettingsView view;
    SettingsPage page(view, store);
    page.FormShow();
    view.Choose(SettingsChoice::Format, c.format);
    view.Choose(SettingsChoice::VideoSize, 14);
    view.Choose(SettingsChoice::FrameRate, 2);
    view.Choose(SettingsChoice::SampleRate, 3);
    view.SetMonoChecked(true);
    view.photoDelay = "30";
    view.effectDelay = "9";
    const std::string before = ReadText(store.FileName());

    page.btnDefaultClick();

    EXPECT_EQ(view.photoDelay, "8");
    EXPECT_EQ(view.effectDelay, "2");
    EXPECT_EQ(store.ReadString(settings_key::PhotoDelay, "(missing)"), "(missing)") << "delays are not stored here";
    if (c.bitRate == nullptr) {
      EXPECT_EQ(ReadText(store.FileName()), before);
      EXPECT_EQ(view.lists[SettingsChoice::VideoSize].Text, "1280x960");
      EXPECT_TRUE(view.mono);
      continue;
    }
    EXPECT_EQ(view.lists[SettingsChoice::BitRate].Text, c.bitRate);
    EXPECT_EQ(store.ReadString(settings_key::BitRate, ""), c.bitRate);
    EXPECT_EQ(store.ReadString(settings_key::BitRateIndex, ""), c.bitRate == std::string("768") ? "5" : "7");
    EXPECT_EQ(store.ReadString(settings_key::VideoSizeIndex, ""), "6");
    EXPECT_EQ(store.ReadString(settings_key::VideoSize, ""), "320x240");
    EXPECT_EQ(store.ReadString(settings_key::SampleRate, ""), "0");
    EXPECT_EQ(store.ReadString(settings_key::FrameRateIndex, ""), "0");
    EXPECT_EQ(store.ReadString(settings_key::FrameRate, ""), "30:1");
    EXPECT_EQ(store.ReadString(settings_key::Stereo, ""), "1");
    EXPECT_EQ(store.ReadString(settings_key::Mono, ""), "0");
    EXPECT_TRUE(view.stereo);
    EXPECT_FALSE(view.mono);
  }
}

// The settings page lists the formats, the conversion job reads its options by the same index.
TEST(ChoiceLists, EveryFormatEntryHasItsOutputRowAtTheSameIndex) {
  for (int i = 0; i < static_cast<int>(std::size(FormatItems)); ++i) {
    SCOPED_TRACE(i);
    ASSERT_NE(OutputFormatAt(i), nullptr);
    EXPECT_EQ(OutputFormatAt(i)->Entry, FormatItems[i]);
  }
  EXPECT_EQ(OutputFormatAt(static_cast<int>(std::size(FormatItems))), nullptr);
}

}  // namespace
}  // namespace lumivor

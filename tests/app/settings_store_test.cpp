// The settings file and the application object that says where it lives.
#include "app/settings/settings_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/common/global_object.h"
#include "settings_test_support.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

using testing::EnvironmentOverride;
using testing::ReadText;
using testing::ScratchFolder;
using testing::WriteText;

TEST(IniText, FindsKeysWhateverTheirCaseAndSpacing) {
  struct Case {
    const char* text;
    const char* key;
    std::optional<std::string> value;
  };
  const Case cases[] = {
      {"[settings]\nformat=3\n", "format", "3"},
      {"[settings]\nFORMAT=3\n", "format", "3"},
      {"[Settings]\r\nformat=3\r\n", "Format", "3"},
      {"  [ SETTINGS ]  \n   format   =   3   \n", "format", "3"},
      {"[settings]\n\tOutPutDir\t= /home/a b/lumivor \n", "outputdir", "/home/a b/lumivor"},
      {"[settings]\nformat=\n", "format", ""},
      {"[settings]\nformat=1=2\n", "format", "1=2"},
      {"[settings]\n;format=9\nformat=4\n", "format", "4"},  // a comment is not a key
      {"[settings]\nformat=4\nformat=5\n", "format", "4"},   // the first line wins
      {"[other]\nformat=7\n[settings]\nformat=2\n", "format", "2"},
      {"format=1\n[settings]\n", "format", std::nullopt},  // outside any section
      {"[settings]\nformatx=1\n", "format", std::nullopt},
      {"[settings]\n[next]\nformat=1\n", "format", std::nullopt},
      {"", "format", std::nullopt},
      {"[settings\nformat=1\n", "format", std::nullopt},  // no header without its bracket
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(detail::FindIniValue(c.text, "settings", c.key), c.value);
  }
}

TEST(IniText, WritingKeepsEverythingElse) {
  struct Case {
    const char* before;
    const char* key;
    const char* value;
    const char* after;
  };
  const Case cases[] = {
      {"", "format", "1", "[settings]\nformat=1\n"},
      {"[settings]\nformat=1\n", "FORMAT", "2", "[settings]\nformat=2\n"},
      {"; mine\n[settings]\r\nmono=0\r\n\r\n[other]\r\nx=1\r\n", "stereo", "1",
       "; mine\n[settings]\r\nmono=0\r\nstereo=1\r\n\r\n[other]\r\nx=1\r\n"},
      {"[other]\nformat=9", "format", "1", "[other]\nformat=9\n\n[settings]\nformat=1\n"},
      {"[settings]", "mono", "1", "[settings]\nmono=1\n"},
      {"[settings]\n  Format  =  1  \nkeep=me\n", "format", "5", "[settings]\nFormat=5\nkeep=me\n"},
      {"[settings]\nformat=1\n[settings]\nformat=2\n", "format", "3", "[settings]\nformat=3\n[settings]\nformat=2\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before);
    EXPECT_EQ(detail::SetIniValue(c.before, "settings", c.key, c.value), c.after);
  }
}

TEST(SettingsStore, ReadsTypedValuesWithDefaults) {
  struct Case {
    const char* stored;  // nullptr: key missing
    int integer;         // read with default 42
    bool boolean;        // read with default true
  };
  const Case cases[] = {
      {nullptr, 42, true}, {"7", 7, true},    {" 12 ", 12, true}, {"-1", -1, true},  {"+3", 3, true},
      {"0", 0, false},     {"1", 1, true},    {"abc", 42, true},  {"3x", 42, true},  {"", 42, true},
      {"99999999999", 42, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored == nullptr ? "(missing)" : c.stored);
    MemorySettingsStore store;
    if (c.stored != nullptr) {
      ASSERT_TRUE(store.WriteString("value", c.stored));
    }
    EXPECT_EQ(store.ReadInteger("value", 42), c.integer);
    EXPECT_EQ(store.ReadBool("value", true), c.boolean);
    EXPECT_EQ(store.ReadString("value", "none"), c.stored == nullptr ? "none" : c.stored);
  }
}

TEST(SettingsStore, MemoryStoreIgnoresLetterCaseLikeTheFile) {
  MemorySettingsStore store;
  ASSERT_TRUE(store.WriteString("OutPutDir", "/a"));
  ASSERT_TRUE(store.WriteString("outputdir", "/b"));
  EXPECT_EQ(store.ReadString("OUTPUTDIR", ""), "/b");
}

TEST(SettingsStore, RefusesLineBreaksThatWouldPlantOtherKeys) {
  ScratchFolder folder;
  IniSettingsStore store(folder / "lumivor.ini");
  std::vector<std::string> reported;
  store.OnWriteFailed = [&](const std::string& text) { reported.push_back(text); };
  EXPECT_FALSE(store.WriteString(settings_key::OutPutDir, "/tmp\nfirstrun=1"));
  EXPECT_FALSE(store.WriteString("a\nb", "1"));
  EXPECT_EQ(reported.size(), 2u);
  EXPECT_FALSE(store.LastErrorText().empty());
  EXPECT_FALSE(std::filesystem::exists(folder / "lumivor.ini"));
}

TEST(IniSettingsStore, WritesStraightToTheFileCreatingItsFolder) {
  ScratchFolder folder;
  const std::string fileName = folder / "deeper/still/lumivor.ini";
  IniSettingsStore store(fileName);
  EXPECT_EQ(store.ReadInteger(settings_key::Format, 0), 0);
  EXPECT_FALSE(std::filesystem::exists(fileName));  // reading creates nothing

  ASSERT_TRUE(store.WriteInteger(settings_key::Format, 3)) << store.LastErrorText();
  ASSERT_TRUE(store.WriteBool(settings_key::Stereo, false));
  ASSERT_TRUE(store.WriteString(settings_key::OutPutDir, "/home/x/my videos"));
  EXPECT_EQ(ReadText(fileName), "[settings]\nformat=3\nstereo=0\nOutPutDir=/home/x/my videos\n");

  // Every access goes to the file: a change made behind the store's back is seen at once.
  WriteText(fileName, "[settings]\nformat=5\n");
  EXPECT_EQ(store.ReadInteger(settings_key::Format, 0), 5);
  EXPECT_TRUE(store.ReadBool(settings_key::Stereo, true));
}

TEST(IniSettingsStore, FailedWritesAreReportedAndLeaveThingsAsTheyWere) {
  ScratchFolder folder;
  WriteText(folder / "plain", "not a folder");
  ASSERT_EQ(::mkdir((folder / "a-folder").c_str(), 0700), 0);
  ASSERT_EQ(::mkfifo((folder / "a-fifo").c_str(), 0600), 0);

  struct Case {
    std::string fileName;
    const char* why;
  };
  const Case cases[] = {
      {folder / "plain/lumivor.ini", "its folder is a file"},
      {folder / "a-folder", "the name is a folder"},
      {folder / "a-fifo", "the name is a FIFO (must not block either)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    IniSettingsStore store(c.fileName);
    std::string reported;
    store.OnWriteFailed = [&](const std::string& text) { reported = text; };
    EXPECT_FALSE(store.WriteBool(settings_key::FirstRun, false));
    EXPECT_FALSE(store.LastErrorText().empty());
    EXPECT_EQ(reported, store.LastErrorText());
    EXPECT_TRUE(store.ReadBool(settings_key::FirstRun, true));
  }
  EXPECT_EQ(ReadText(folder / "plain"), "not a folder");
  EXPECT_TRUE(std::filesystem::is_directory(folder / "a-folder"));
  EXPECT_TRUE(std::filesystem::is_fifo(folder / "a-fifo"));

  // A later write that succeeds clears the reason.
  IniSettingsStore good(folder / "good.ini");
  EXPECT_TRUE(good.WriteBool(settings_key::FirstRun, false));
  EXPECT_TRUE(good.LastErrorText().empty());
}

TEST(GlobalObject, SettingsFileFollowsTheEnvironment) {
  struct Case {
    std::optional<std::string> configDir, xdg, home;
    std::string expected;
  };
  const Case cases[] = {
      {"/cfg/here", "/xdg", "/home/u", "/cfg/here/lumivor.ini"},
      {"/cfg/here/", "/xdg", "/home/u", "/cfg/here/lumivor.ini"},
      {std::nullopt, "/xdg", "/home/u", "/xdg/lumivor/lumivor.ini"},
      {"", "/xdg/", "/home/u", "/xdg/lumivor/lumivor.ini"},
      {std::nullopt, "relative", "/home/u", "/home/u/.config/lumivor/lumivor.ini"},
      {std::nullopt, std::nullopt, "/home/u/", "/home/u/.config/lumivor/lumivor.ini"},
      {std::nullopt, std::nullopt, "/", "/.config/lumivor/lumivor.ini"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EnvironmentOverride configDir("LUMIVOR_CONFIG_DIR", c.configDir);
    EnvironmentOverride xdg("XDG_CONFIG_HOME", c.xdg);
    EnvironmentOverride home("HOME", c.home);
    EXPECT_EQ(DefaultSettingsFile(), c.expected);
  }
}

TEST(GlobalObject, VersionTextHasOneDotAndABlankAtEachEnd) {
  struct Case {
    VersionNumbers version;
    const char* text;
  };
  const Case cases[] = {
      {{1, 2, 2, 8}, " 1.228 "},
      {{0, 1, 0, 1}, " 0.101 "},
      {{12, 0, 10, 3}, " 12.0103 "},
  };
  for (const Case& c : cases) EXPECT_EQ(VersionTextOf(c.version), c.text);
  EXPECT_EQ(GlobalObject().VersionText(), VersionTextOf(ProgramVersion()));
}

TEST(GlobalObject, SettersKeepTheOldValueForEmptyOrTooShortOnes) {
  TGlobalObject object;
  EXPECT_EQ(object.ProductName(), "Lumivor");
  EXPECT_FALSE(object.ProductPageURL().empty());
  EXPECT_EQ(object.HelpPageURL().rfind("file:///", 0), 0u) << object.HelpPageURL();
  EXPECT_TRUE(std::filesystem::exists(object.HelpPageURL().substr(7))) << "the help page is shipped";

  object.SetSettingsFile("/cfg/lumivor.ini");
  object.SetSettingsFile("/a/");
  object.SetSettingsFile("");
  EXPECT_EQ(object.SettingsFile(), "/cfg/lumivor.ini");
  object.SetSettingsFile("/a/b");
  EXPECT_EQ(object.SettingsFile(), "/a/b");

  object.SetProductName("");
  object.SetVersionText("");
  object.SetHelpPageURL("");
  object.SetProductPageURL("");
  EXPECT_EQ(object.ProductName(), "Lumivor");
  EXPECT_EQ(object.VersionText(), VersionTextOf(ProgramVersion()));
  object.SetProductName("X");
  EXPECT_EQ(object.ProductName(), "X");
}

}  // namespace
}  // namespace lumivor

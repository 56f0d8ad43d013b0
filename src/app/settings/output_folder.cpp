#include "app/settings/output_folder.h"

#include <filesystem>
#include <system_error>

#include "app/common/global_object.h"

namespace lumivor {

namespace output_folder {
std::string FirstRunFolder() { return HomeFolder() + "/lumivor"; }
std::string NamingDefault() { return HomeFolder() + "/Mevaro"; }
std::string OpenDefault() { return HomeFolder() + "/MyVideo"; }
std::string OpenFallback() { return HomeFolder() + "/MyVideos"; }
std::string JoinerDefault() { return HomeFolder() + "/Vantrel"; }
}  // namespace output_folder

namespace {

bool folder_exists(const std::string& folder) {
  std::error_code error;
  return !folder.empty() && std::filesystem::is_directory(folder, error);
}

// True when the folder is there afterwards, made with every missing parent.
bool make_folder(const std::string& folder) {
  if (folder.empty()) return false;
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  return folder_exists(folder);
}

std::string folder_or_fallback(SettingsStore& store, const std::string& folder, const std::string& fallback,
                               const std::string& message, MessageBoxes& messages) {
  if (folder_exists(folder) || make_folder(folder)) return folder;
  messages.ShowMessage(message, "Warning", MessageIcon::Warning, MessageButtons::Ok);
  make_folder(fallback);
  store.WriteString(settings_key::OutPutDir, fallback);
  return fallback;
}

}  // namespace

std::string OutputFolderForWindowShow(SettingsStore& store) {
  std::string folder;
  if (store.ReadBool(settings_key::FirstRun, true)) {
    folder = output_folder::FirstRunFolder();
    store.WriteString(settings_key::OutPutDir, folder);
    store.WriteBool(settings_key::FirstRun, false);
  } else {
    folder = store.ReadString(settings_key::OutPutDir, "");
  }
  if (!folder_exists(folder)) {
    folder = output_folder::FirstRunFolder();
    store.WriteString(settings_key::OutPutDir, folder);
    store.WriteBool(settings_key::FirstRun, false);
  }
  return folder;
}

std::string OutputFolderForNaming(SettingsStore& store, MessageBoxes& messages) {
  const std::string folder = store.ReadString(settings_key::OutPutDir, output_folder::NamingDefault());
  return folder_or_fallback(store, folder, output_folder::NamingDefault(),
                            "Cannot create output directory:" + folder + ".It will create default directory " +
                                output_folder::NamingDefault() + "!",
                            messages);
}

std::string OutputFolderForOpen(SettingsStore& store, MessageBoxes& messages) {
  const std::string folder = store.ReadString(settings_key::OutPutDir, output_folder::OpenDefault());
  return folder_or_fallback(store, folder, output_folder::OpenFallback(),
                            "Can not create output directory:" + folder + ".It will create default directory" +
                                output_folder::OpenFallback(),
                            messages);
}

std::string OutputFolderForJoiner(const SettingsStore& store) {
  const std::string folder = store.ReadString(settings_key::OutPutDir, output_folder::JoinerDefault());
  if (!folder_exists(folder)) make_folder(folder);
  return folder;
}

}  // namespace lumivor

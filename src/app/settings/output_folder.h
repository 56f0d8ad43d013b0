// The output folder ("OutPutDir"). Each reader of the key brings its own default for a missing key
// and its own answer to a folder that is not there; they are kept side by side here so that the
// differences stay visible.
#pragma once

#include <string>

#include "app/settings/settings_store.h"
#include "app/common/window_services.h"

namespace lumivor {

namespace output_folder {
// Folders below the user's home folder.
std::string FirstRunFolder();  // home + "/lumivor"
std::string NamingDefault();   // home + "/Mevaro"
std::string OpenDefault();     // home + "/MyVideo"
std::string OpenFallback();    // home + "/MyVideos"
std::string JoinerDefault();   // home + "/Vantrel"
}  // namespace output_folder

// Window show: on the first run (or when the stored folder no longer exists) the folder is the
// first-run folder, stored together with "firstrun" = false. Nothing is created here: the folder
// appears when a run first writes into it.
std::string OutputFolderForWindowShow(SettingsStore& store);

// Output naming: the folder is created with all missing parents. When that fails the user is told,
// the default folder is created and stored, and the run writes there: the message promises it, and
// a run aimed at a folder that could not be made would only fail later.
std::string OutputFolderForNaming(SettingsStore& store, MessageBoxes& messages);

// The Open command: as for naming, with its own default, fallback and message; the folder to show.
std::string OutputFolderForOpen(SettingsStore& store, MessageBoxes& messages);

// The audio joiner writes its temporary file into the folder. The folder is not replaced by another
// one, but it is created when missing: on a first run the stored folder does not exist yet (window
// show does not make it), and a join into it would fail and leave the slideshow without its sound.
std::string OutputFolderForJoiner(const SettingsStore& store);

}  // namespace lumivor

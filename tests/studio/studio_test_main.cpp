// Studio's tests share one QApplication on the offscreen platform, the main-thread dispatcher
// served from its event loop, and a settings folder of their own, so that the recent projects
// they note are never the user's.
#include <stdlib.h>

#include <QApplication>
#include <gtest/gtest.h>

#include "studio/main_thread_pump.h"
#include "support/scratch_folder.h"

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  lumivor::testing::ScratchFolder config;
  ::setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
  ::setenv("LUMIVOR_CONFIG_DIR", config.Path().c_str(), 1);
  QApplication application(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Lumivor"));
  QApplication::setApplicationName(QStringLiteral("Lumivor Studio Tests"));
  lumivor::studio::StudioMainThreadPump pump;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

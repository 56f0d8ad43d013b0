// The window tests need one QApplication for the whole run, on the offscreen platform so that
// no display is needed (and SDL's silent audio driver for the player), and the main-thread dispatcher served from its event loop as the program
// serves it.
#include <stdlib.h>

#include <QApplication>
#include <gtest/gtest.h>

#include "gui/main_thread_pump.h"

int main(int argc, char** argv) {
  // Offscreen unless a platform is asked for (xcb under Xvfb tries the player on a real window).
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // The audio preview plays without a sound card.
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Lumivor"));
  lumivor::gui::QtMainThreadPump pump;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

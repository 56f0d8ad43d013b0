// lumivor-gui: the desktop program. With --screenshot FOLDER it shows the window, writes a picture
// of each page (and of the folder chooser) into FOLDER and ends, so that the looks can be checked
// on a machine without a desktop.
#include <cstdio>
#include <cstring>
#include <string>

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>

#include "gui/directory_form.h"
#include "gui/main_form.h"
#include "gui/main_thread_pump.h"

namespace {

bool WriteScreenshots(lumivor::gui::TfrmMain& window, const QString& folder) {
  if (!QDir().mkpath(folder)) return false;
  const char* const pages[] = {"photos", "audio", "settings"};
  bool written = true;
  for (int page = 0; page < window.pgc->count(); ++page) {
    window.pgc->setCurrentIndex(page);
    QApplication::processEvents();
    written = window.grab().save(folder + QStringLiteral("/lumivor-%1.png").arg(QString::fromLatin1(pages[page]))) &&
              written;
  }
  lumivor::gui::TfmDirectory chooser(&window, window.Messages());
  chooser.show();
  QApplication::processEvents();
  written = chooser.grab().save(folder + QStringLiteral("/lumivor-brows.png")) && written;
  return written;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Lumivor"));
  lumivor::gui::QtMainThreadPump pump;
  lumivor::gui::TfrmMain window;
  window.show();

  const QStringList arguments = QApplication::arguments();
  const qsizetype screenshot = arguments.indexOf(QStringLiteral("--screenshot"));
  if (screenshot >= 0) {
    if (screenshot + 1 >= arguments.size()) {
      std::fputs("usage: lumivor-gui [--screenshot FOLDER]\n", stderr);
      return 2;
    }
    return WriteScreenshots(window, arguments[screenshot + 1]) ? 0 : 1;
  }
  return QApplication::exec();
}

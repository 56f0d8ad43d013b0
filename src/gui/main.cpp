// lumivor-gui: the desktop program.
//
// Files given on the command line go to the photo and audio lists as in the screenshot mode.
// With --screenshot FOLDER [FILE...] it writes pictures of the window into FOLDER and ends, so that
// its looks can be checked on a machine without a desktop (under xvfb-run, or on Qt's offscreen
// platform): each page, the folder chooser, and, when photos are among the files, each page and
// the preview while a slideshow of them is made, and the window after it. Pictures (BMP, JPEG,
// PNG, WebP, HEIC/HEIF) go to the photo list, the other files to the audio list; message boxes
// are answered on stderr.
#include <cstdio>
#include <string>
#include <vector>

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QPixmap>
#include <QProgressBar>
#include <QTabWidget>
#include <QTimer>

#include "gui/directory_form.h"
#include "gui/main_form.h"
#include "gui/main_thread_pump.h"

namespace {

using lumivor::gui::TfrmMain;

const char* const kPageNames[] = {"photos", "audio", "settings"};

bool GrabPages(TfrmMain& window, const QString& folder, const QString& prefix) {
  bool written = true;
  const int shown = window.pgc->currentIndex();
  for (int page = 0; page < window.pgc->count(); ++page) {
    window.pgc->setCurrentIndex(page);
    // The page's layout settles before the picture is taken; nothing else is let through, so a
    // run's reports are not handled inside a grab.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const QString name = QStringLiteral("%1/lumivor-%2%3.png").arg(folder, prefix, QString::fromLatin1(kPageNames[page]));
    written = window.grab().save(name) && written;
  }
  window.pgc->setCurrentIndex(shown);
  return written;
}

bool IsPicture(const std::string& file) {
  const QString suffix = QFileInfo(QString::fromStdString(file)).suffix().toLower();
  for (const char* kind : {"bmp", "jpg", "jpeg", "png", "webp", "heic", "heif"})
    if (suffix == QLatin1String(kind)) return true;
  return false;
}

int WriteScreenshots(TfrmMain& window, const QString& folder, const std::vector<std::string>& files) {
  if (!QDir().mkpath(folder)) {
    std::fprintf(stderr, "lumivor-gui: cannot make %s\n", qPrintable(folder));
    return 1;
  }
  window.Messages().Answer = [](const lumivor::gui::ShownMessage& message) {
    std::fprintf(stderr, "%s: %s\n", message.Caption.c_str(), message.Text.c_str());
    return lumivor::MessageResult::Yes;
  };
  window.OpenUrl = [](const std::string& url) { std::fprintf(stderr, "open %s\n", url.c_str()); };

  std::vector<std::string> photos, tracks;
  for (const std::string& file : files) (IsPicture(file) ? photos : tracks).push_back(file);
  if (!photos.empty()) window.RunLogic().AddPhotos(photos);
  if (!tracks.empty()) window.AudioLogic().AddFiles(tracks);

  bool written = GrabPages(window, folder, QString());
  lumivor::gui::TfmDirectory chooser(&window, window.Messages());
  chooser.show();
  // The tree reads folders in the background; give it a moment to fill and sort them.
  QEventLoop settle;
  QTimer::singleShot(500, &settle, &QEventLoop::quit);
  settle.exec();
  written = chooser.grab().save(folder + QStringLiteral("/lumivor-brows.png")) && written;
  chooser.hide();

  if (!photos.empty()) {
    bool grabbed = false;
    window.OnProgressShown = [&](const lumivor::TProgressInfo&) {
      // A third of the way into the slideshow (the join of the tracks reports on the same bar),
      // from the event loop rather than inside the report.
      if (grabbed || window.RunLogic().Joining() || window.ProgressBar1->value() < 30) return;
      grabbed = true;
      QTimer::singleShot(0, &window, [&] {
        written = GrabPages(window, folder, QStringLiteral("running-")) && written;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
          if (widget->objectName() == QStringLiteral("PreviewForm") && widget->isVisible()) {
            written = widget->grab().save(folder + QStringLiteral("/lumivor-preview.png")) && written;
          }
        }
      });
    };
    // The run goes on its own thread; the event loop runs meanwhile, as it does for a user.
    QEventLoop running;
    window.OnRunFinished = [&](const lumivor::JobResult&) { running.quit(); };
    window.btnStartClick();
    if (window.RunLogic().Running()) running.exec();
    window.OnRunFinished = nullptr;
    const lumivor::JobResult& run = window.LastRun();
    if (run.End != lumivor::JobEnd::Finished) {
      std::fprintf(stderr, "lumivor-gui: the slideshow did not finish: %s\n", run.ErrorText.c_str());
      return 1;
    }
    std::printf("%s\n", run.OutputFile.c_str());
    written = GrabPages(window, folder, QStringLiteral("after-")) && written;
  }
  if (!written) std::fprintf(stderr, "lumivor-gui: a picture could not be written into %s\n", qPrintable(folder));
  return written ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Lumivor"));
  lumivor::gui::QtMainThreadPump pump;
  TfrmMain window;
  window.show();

  const QStringList arguments = QApplication::arguments();
  if (arguments.size() > 1 && arguments[1].startsWith(QLatin1Char('-'))) {
    if (arguments[1] != QStringLiteral("--screenshot") || arguments.size() < 3) {
      std::fputs("usage: lumivor-gui [FILE...] | --screenshot FOLDER [FILE...]\n", stderr);
      return 2;
    }
    std::vector<std::string> files;
    for (qsizetype i = 3; i < arguments.size(); ++i) files.push_back(arguments[i].toStdString());
    return WriteScreenshots(window, arguments[2], files);
  }
  // Files handed over by a desktop ("Open With", the desktop entry's %F) go to the lists the way
  // the screenshot mode sorts them, instead of ending the program with a usage line.
  std::vector<std::string> photos, tracks;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const std::string file = arguments[i].toStdString();
    (IsPicture(file) ? photos : tracks).push_back(file);
  }
  if (!photos.empty()) window.RunLogic().AddPhotos(photos);
  if (!tracks.empty()) window.AudioLogic().AddFiles(tracks);
  return QApplication::exec();
}

// lumivor-studio: the storyboard program. A project file named on the command line is opened.
#include <QApplication>

#include "studio/main_thread_pump.h"
#include "studio/studio_window.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Lumivor"));
  QApplication::setApplicationName(QStringLiteral("Lumivor Studio"));
  lumivor::studio::StudioMainThreadPump pump;
  lumivor::studio::StudioWindow window;
  window.show();
  const QStringList arguments = QApplication::arguments();
  if (arguments.size() > 1) window.OpenProject(arguments[1]);
  return QApplication::exec();
}

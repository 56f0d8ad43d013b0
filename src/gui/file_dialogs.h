// Open- and save-file dialogs. Filters are written the way the application describes them,
// "Label|*.EXT;*.EXT|Label|*.EXT;" and match file names in any letter case.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QStringList>

class QWidget;

namespace lumivor::gui {

// Qt name filters for a described filter: one "Label (patterns)" entry per label, each pattern
// spelled with both cases of every letter ("*.[bB][mM][pP]"), so that every platform's dialog,
// case-sensitive or not, shows PHOTO.JPG and photo.jpg alike.
QStringList DialogNameFilters(const std::string& described);

class FileDialogs {
 public:
  // Asks for one or more existing files; the chosen paths in the dialog's order, empty on Cancel.
  // When Answer is set it answers with the filter it was given instead of showing a dialog.
  std::vector<std::string> OpenFileNames(QWidget* parent, const std::string& filter);

  std::function<std::vector<std::string>(const std::string& filter)> Answer;

  // Asks for the name of a file to write, starting at suggested (a path, or a folder); the chosen
  // path, empty on Cancel. A name typed without an extension gets defaultSuffix, and the dialog
  // asks before an existing file is chosen. When SaveAnswer is set it answers with the filter and
  // the suggestion it was given instead of showing a dialog.
  std::string SaveFileName(QWidget* parent, const std::string& filter, const std::string& suggested,
                           const std::string& defaultSuffix);

  std::function<std::string(const std::string& filter, const std::string& suggested)> SaveAnswer;
};

}  // namespace lumivor::gui

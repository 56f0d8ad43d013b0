#include "gui/file_dialogs.h"

#include <QFileDialog>

namespace lumivor::gui {

namespace {

QString AnyCasePattern(const QString& pattern) {
  QString result;
  for (const QChar c : pattern) {
    const QChar lower = c.toLower();
    const QChar upper = c.toUpper();
    if (lower == upper) {
      result += c;
    } else {
      result += QLatin1Char('[') + lower + upper + QLatin1Char(']');
    }
  }
  return result;
}

}  // namespace

QStringList DialogNameFilters(const std::string& described) {
  // Labels and pattern lists alternate between the bars; a trailing ";" leaves an empty pattern.
  const QStringList parts = QString::fromStdString(described).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns;
    for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      patterns << AnyCasePattern(pattern.trimmed());
    }
    filters << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return filters;
}

std::vector<std::string> FileDialogs::OpenFileNames(QWidget* parent, const std::string& filter) {
  if (Answer) return Answer(filter);
  QFileDialog dialog(parent);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setNameFilters(DialogNameFilters(filter));
  // The bracketed patterns are for matching, not for reading: show the labels only.
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  std::vector<std::string> chosen;
  if (dialog.exec() != QDialog::Accepted) return chosen;
  for (const QString& file : dialog.selectedFiles()) chosen.push_back(file.toStdString());
  return chosen;
}

std::string FileDialogs::SaveFileName(QWidget* parent, const std::string& filter, const std::string& suggested,
                                      const std::string& defaultSuffix) {
  if (SaveAnswer) return SaveAnswer(filter, suggested);
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters(DialogNameFilters(filter));
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setDefaultSuffix(QString::fromStdString(defaultSuffix));
  dialog.selectFile(QString::fromStdString(suggested));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::string();
  return dialog.selectedFiles().constFirst().toStdString();
}

}  // namespace lumivor::gui

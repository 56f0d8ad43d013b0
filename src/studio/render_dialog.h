// Render: the project made into a video file at full speed, with the format, the frame size and
// the file chosen here. The run is the one `lumivor make` makes of the same project (the request
// comes from the core's project rules), run by the core's runner; the dialog shows its frames,
// pauses and stops it, and ends with the file or the reason it failed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QDialog>
#include <QString>

#include "app/files/output_file.h"
#include "app/run/show_project.h"
#include "app/window/main_window.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QUrl;

namespace lumivor::studio {

class RenderDialog : public QDialog, private RunFace, private MessageBoxes, private LogMemo {
 public:
  RenderDialog(const ShowProject& project, const QString& projectFile, QWidget* parent = nullptr);
  ~RenderDialog() override;

  // Begins the run with the chosen format, size and file and returns at once; false, with the
  // reason shown, when it cannot begin.
  bool StartRender();
  void PauseClick();
  void StopClick();
  bool Running() const { return runner_.Running(); }
  // For callers with nothing else to do meanwhile (tests): waits for the run's end, serving the
  // run's calls to this dialog.
  JobResult WaitForEnd() { return runner_.Wait(); }
  const JobResult& LastResult() const { return runner_.LastResult(); }
  // The video written by the last run; empty when none was kept.
  const QString& WrittenFile() const { return writtenFile_; }
  // What the dialog says about the last run (or why it did not begin).
  QString ResultText() const;

  // The format and size picked, whenever Render is pressed, for the project to keep.
  std::function<void(int formatIndex, int width, int height)> OnOutputChosen;
  // After each run's end has been shown.
  std::function<void(const JobResult&)> OnFinished;
  // Hands the video and its folder to the desktop; tests record instead.
  std::function<void(const QUrl&)> OpenUrl;
  // The file dialog; tests answer instead.
  std::function<QString(const QString& suggested)> ChooseOutputFile;

  QComboBox* cmbFormat;
  QComboBox* cmbSize;
  QLineEdit* edtOutput;
  QPushButton* btnBrowse;
  QPushButton* btnRender;
  QPushButton* btnPause;
  QPushButton* btnStop;
  QPushButton* btnClose;
  QProgressBar* progress;
  QLabel* lblStatus;
  QLabel* lblResult;
  QPushButton* btnOpen;
  QPushButton* btnShowFolder;

  void reject() override;

 private:
  // RunFace.
  void RunBegins() override;
  void RunProgress(const TProgressInfo& info, const std::string& statusText, int position) override;
  void RunEnds(bool encoded) override;
  void RunFinished(const JobResult& result) override;
  // MessageBoxes: what a run has to say goes into the dialog, never into a box over it.
  MessageResult ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                            MessageButtons buttons) override;
  // LogMemo.
  void AddLine(const std::string& line) override;

  void Browse();
  void FormatChosen();
  void ShowRunning(bool running);
  void ShowResult(const QString& text, bool withFile);
  int ChosenFormat() const;
  // The output name with the chosen format's extension.
  QString OutputName() const;

  ShowProject project_;
  QString projectFile_;
  std::int64_t totalFrames_ = 0;
  bool paused_ = false;
  std::vector<std::string> messages_;
  QString writtenFile_;
  // Written under a temporary name and put in place only once the run has made a video, so that a
  // failed run leaves the file that was there.
  OutputFile file_;
  // Last, so that it goes first: its run still reports to this dialog and writes into file_.
  SlideshowRunner runner_;
};

}  // namespace lumivor::studio

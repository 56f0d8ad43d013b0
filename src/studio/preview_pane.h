// Studio's live preview: the show as the render will make it, drawn on the fly by the core's live
// show (no encoding), with its music. Play/Pause (Space), a scrub slider with the time, and steps
// of one frame back and forward ("," and ".", or Ctrl+Left and Ctrl+Right; the plain arrows
// belong to the storyboard). The pane follows the edits: a changed show is rebuilt at the
// position it stood at, once the edits pause, or at once when the pane is used.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <QWidget>

#include "app/run/live_show.h"
#include "app/run/show_project.h"

class QLabel;
class QPushButton;
class QSlider;
class QTimer;

namespace lumivor::studio {

class PreviewPicture;

class PreviewPane : public QWidget {
 public:
  explicit PreviewPane(QWidget* parent = nullptr);
  ~PreviewPane() override;

  // The show as it stands now; asked whenever the pane looks for edits.
  std::function<ShowProject()> Project;
  // Before the first show: off for a pane that must stay silent (tests choose the dummy driver).
  bool SoundOutput = true;
  // Told each time the tempo line changes (the show fitted to its music's beats, or rebuilt).
  std::function<void(const QString& tempo)> OnTempoChanged;

  void PlayPause();
  void StepBack();
  void StepForward();
  void SeekFrame(std::int64_t frame);
  // Marks the show as edited; it is rebuilt shortly, or before the next command.
  void ShowChanged();
  // Rebuilds now when the show differs from the one being shown; true when a show is open after.
  bool Refresh();

  LiveShow& Show() { return show_; }
  // The frame drawn in the picture now (-1 for none).
  std::int64_t DrawnFrame() const;
  // "mm:ss.t / mm:ss.t": the position and the show's length.
  QString TimeText() const;
  // With beat sync, the tempo the show is cut to ("Beat sync: 120.0 bpm") once the music is read.
  QString TempoText() const;
  // Why nothing plays (no photos, a photo that cannot be loaded); empty when all is well.
  QString Problem() const;

  QWidget* picture;
  QPushButton* playButton;
  QPushButton* backButton;
  QPushButton* forwardButton;
  QSlider* slider;
  QLabel* timeLabel;
  QLabel* tempoLabel;
  QLabel* problemLabel;

 private:
  void Tick();
  void ShowTempo(const QString& tempo);
  void UpdateControls();
  void Rebuild();

  PreviewPicture* picture_;
  LiveShow show_;
  std::optional<ShowProject> builtFrom_;
  bool stale_ = true;
  bool settingSlider_ = false;
  QString problem_;
  QTimer* tick_;
  QTimer* watch_;
};

}  // namespace lumivor::studio

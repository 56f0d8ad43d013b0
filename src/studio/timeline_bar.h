// The show's length against the music's: two bars on one scale with their times as text, so that
// a user sees at once whether the tracks cover the show and what the music-end rule makes of them.
#pragma once

#include <cstdint>
#include <optional>

#include <QString>
#include <QWidget>

#include "app/run/show_project.h"

namespace lumivor::studio {

struct TimelineFigures {
  std::int64_t ShowFrames = 0;
  double ShowSeconds = 0;
  // The tracks together; nothing while a length is still being read.
  std::optional<double> TrackSeconds;
  // What is heard under the show once the music-end rule has been applied (0: no sound).
  double HeardSeconds = 0;
  QString ShowText;
  QString MusicText;
  // With beat sync: the tempo the show is cut to, or what is still awaited; empty without.
  QString BeatText;
};

// What the preview found of the show's music, for the timeline: its tempo line (empty while the
// music is still being read) and the length of the show fitted to its beats.
struct BeatFigures {
  QString Tempo;
  std::int64_t FittedFrames = 0;
};

// Frames of the show as it will be rendered: a transition before the first photo, then each photo's
// hold and the transition that follows it (its own or the show's), and the black tail; 0 for a
// show without photos.
std::int64_t ProjectFrameCount(const ShowProject& project);

TimelineFigures MeasureTimeline(const ShowProject& project, std::optional<std::int64_t> trackMicroseconds,
                                const BeatFigures& beats = {});

class TimelineBar : public QWidget {
 public:
  explicit TimelineBar(QWidget* parent = nullptr);

  void ShowFigures(const TimelineFigures& figures);
  const TimelineFigures& Figures() const { return figures_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int RowHeight() const;
  int TextWidth() const;
  int Rows() const;
  TimelineFigures figures_;
};

}  // namespace lumivor::studio

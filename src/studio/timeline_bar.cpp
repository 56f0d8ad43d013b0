#include "studio/timeline_bar.h"

#include <algorithm>
#include <cmath>

#include <QFontMetrics>
#include <QPainter>
#include <QPaintEvent>

#include "app/run/audio_joiner.h"
#include "app/run/audio_tracks.h"
#include "app/run/beat_track.h"
#include "app/run/conversion_job.h"
#include "app/run/run_request.h"

namespace lumivor::studio {
namespace {

QString time_text(double seconds) {
  return QString::fromStdString(FormatTrackDuration(static_cast<std::int64_t>(std::llround(seconds * 1e6))));
}

const char* rule_text(MusicEnd end) {
  switch (end) {
    case MusicEnd::Cut: return "cut at the show's end";
    case MusicEnd::Fade: return "faded out with the show";
    case MusicEnd::Loop: return "looped until the show ends";
  }
  return "";
}

}  // namespace

std::int64_t ProjectFrameCount(const ShowProject& project) {
  // The run's own count from the run's own request, so that the bar and the video always agree.
  RunRequest request;
  std::string errorText;
  if (!RequestFromProject(project, request, errorText)) return 0;
  return RequestTiming(request).FrameCount();
}

namespace {

// The beat line: the tempo the preview found, or what stands in for it until then.
QString beat_text(const ShowProject& project, const BeatFigures& beats, const TimelineFigures& figures) {
  if (!project.BeatSync || project.Photos.empty()) return {};
  if (project.Tracks.empty()) return QString::fromLatin1(BeatSyncNoMusicText);
  if (beats.Tempo.isEmpty()) return QStringLiteral("Beat sync: finding the music's beat…");
  QString text = beats.Tempo;
  if (beats.FittedFrames > 0 && beats.FittedFrames != figures.ShowFrames && project.RateNumerator > 0) {
    const double seconds = static_cast<double>(beats.FittedFrames) * project.RateDenominator / project.RateNumerator;
    text += QStringLiteral("; on the beat the show lasts %1 (%2 frames)").arg(time_text(seconds)).arg(beats.FittedFrames);
  }
  return text;
}

TimelineFigures measure_lengths(const ShowProject& project, std::optional<std::int64_t> trackMicroseconds) {
  TimelineFigures figures;
  // The run's own request and pacing, so that the bar and the video always agree: the title card
  // and each photo's own times counted, in the show's length and in the music's plan alike.
  RunRequest request;
  std::string errorText;
  const bool planned = !project.Photos.empty() && RequestFromProject(project, request, errorText);
  const ShowPacing pacing = planned ? RequestPacing(request) : ShowPacing{};
  figures.ShowFrames = planned ? pacing.Timing.FrameCount() : 0;
  if (project.RateNumerator > 0 && project.RateDenominator > 0) {
    figures.ShowSeconds =
        static_cast<double>(figures.ShowFrames) * project.RateDenominator / project.RateNumerator;
  }
  figures.ShowText = QStringLiteral("Show %1 (%2 photos, %3 frames)")
                         .arg(time_text(figures.ShowSeconds))
                         .arg(project.Photos.size())
                         .arg(figures.ShowFrames);
  if (project.Tracks.empty()) {
    figures.TrackSeconds = 0.0;
    figures.MusicText = QStringLiteral("No music");
    return figures;
  }
  if (!trackMicroseconds) {
    figures.MusicText = QStringLiteral("Music: reading the tracks' lengths…");
    return figures;
  }
  figures.TrackSeconds = static_cast<double>(*trackMicroseconds) / 1e6;
  if (!planned) {
    figures.MusicText = QStringLiteral("Music %1").arg(time_text(*figures.TrackSeconds));
    return figures;
  }
  const AudioJoinRequest join = SoundJoinRequest(request, pacing);
  const MusicPlan plan = PlanMusic(join, *trackMicroseconds);
  figures.HeardSeconds = plan.Used ? std::min(plan.Seconds, figures.ShowSeconds) : 0.0;
  QString text = QStringLiteral("Music %1").arg(time_text(*figures.TrackSeconds));
  if (!plan.Used) {
    text += QStringLiteral(": shorter than the show, not used");
  } else {
    text += QStringLiteral(", %1").arg(QString::fromLatin1(rule_text(project.MusicEndRule)));
    if (plan.Repeats > 1) text += QStringLiteral(", played %1 times").arg(plan.Repeats);
  }
  figures.MusicText = text;
  return figures;
}

}  // namespace

TimelineFigures MeasureTimeline(const ShowProject& project, std::optional<std::int64_t> trackMicroseconds,
                                const BeatFigures& beats) {
  TimelineFigures figures = measure_lengths(project, trackMicroseconds);
  figures.BeatText = beat_text(project, beats, figures);
  return figures;
}

TimelineBar::TimelineBar(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("timeline"));
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TimelineBar::ShowFigures(const TimelineFigures& figures) {
  figures_ = figures;
  QString tip = figures_.ShowText + QStringLiteral("\n") + figures_.MusicText;
  if (!figures_.BeatText.isEmpty()) tip += QStringLiteral("\n") + figures_.BeatText;
  setToolTip(tip);
  updateGeometry();
  update();
}

int TimelineBar::RowHeight() const { return fontMetrics().height() + 6; }

int TimelineBar::TextWidth() const {
  const QFontMetrics metrics = fontMetrics();
  return std::max({metrics.horizontalAdvance(figures_.ShowText), metrics.horizontalAdvance(figures_.MusicText),
                   metrics.horizontalAdvance(figures_.BeatText)});
}

// The beat line, when there is one, goes under the music it was found in.
int TimelineBar::Rows() const { return figures_.BeatText.isEmpty() ? 2 : 3; }

QSize TimelineBar::sizeHint() const { return {TextWidth() + 24, Rows() * RowHeight() + 8}; }

QSize TimelineBar::minimumSizeHint() const { return {120, Rows() * RowHeight() + 8}; }

void TimelineBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const int row = RowHeight();
  const int width = std::max(1, this->width() - 8);
  const double longest = std::max({figures_.ShowSeconds, figures_.TrackSeconds.value_or(0.0), 1e-6});
  const auto bar_width = [&](double seconds) { return static_cast<int>(std::lround(width * seconds / longest)); };
  const QColor showColour(0x40, 0x70, 0xb0), musicColour(0x50, 0x90, 0x50), heardColour(0x70, 0xc0, 0x60);

  const QRect showRect(4, 4, bar_width(figures_.ShowSeconds), row - 2);
  painter.fillRect(showRect, showColour);
  const QRect musicRow(4, 4 + row, width, row - 2);
  if (figures_.TrackSeconds) {
    // The whole tracks are drawn pale; the part the show really plays, strong.
    painter.fillRect(QRect(musicRow.topLeft(), QSize(bar_width(*figures_.TrackSeconds), musicRow.height())), musicColour);
    painter.fillRect(QRect(musicRow.topLeft(), QSize(bar_width(figures_.HeardSeconds), musicRow.height())), heardColour);
  }
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(QRect(8, 4, width - 8, row - 2), Qt::AlignVCenter | Qt::AlignLeft, figures_.ShowText);
  painter.drawText(musicRow.adjusted(4, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, figures_.MusicText);
  if (!figures_.BeatText.isEmpty()) {
    painter.drawText(QRect(8, 4 + 2 * row, width - 8, row - 2), Qt::AlignVCenter | Qt::AlignLeft, figures_.BeatText);
  }
}

}  // namespace lumivor::studio

#include "studio/track_lengths.h"

#include <mutex>

#include <QMetaObject>
#include <QObject>

#include "app/run/audio_tracks.h"
#include "app/run/track_length.h"

namespace lumivor::studio {

// Workers reach the reader only through this guard, which the reader clears before it goes.
struct TrackLengths::Target {
  std::mutex Lock;
  QObject* Receiver = nullptr;
  TrackLengths* Owner = nullptr;
};

TrackLengths::TrackLengths() : target_(std::make_shared<Target>()), receiver_(std::make_unique<QObject>()) {
  target_->Receiver = receiver_.get();
  target_->Owner = this;
  // One at a time: a track without a known length is decoded whole, and several at once would
  // only compete for the disk.
  pool_.setMaxThreadCount(1);
}

TrackLengths::~TrackLengths() {
  {
    std::lock_guard<std::mutex> guard(target_->Lock);
    target_->Receiver = nullptr;
    target_->Owner = nullptr;
  }
  pool_.clear();
  pool_.waitForDone();
}

TrackLength TrackLengths::Request(const std::string& path) {
  const QString key = QString::fromStdString(path);
  auto found = known_.find(key);
  if (found != known_.end()) return *found;
  known_.insert(key, TrackLength{});
  ++pending_;
  pool_.start([target = target_, path] {
    std::optional<std::int64_t> microseconds = ReadTrackMicroseconds(path);
    std::lock_guard<std::mutex> guard(target->Lock);
    if (target->Receiver == nullptr) return;
    QMetaObject::invokeMethod(
        target->Receiver,
        [target, path, microseconds] {
          if (target->Owner != nullptr) target->Owner->Deliver(path, microseconds);
        },
        Qt::QueuedConnection);
  });
  return TrackLength{};
}

void TrackLengths::Deliver(const std::string& path, std::optional<std::int64_t> microseconds) {
  --pending_;
  TrackLength& length = known_[QString::fromStdString(path)];
  length.Status = microseconds ? TrackLength::State::Known : TrackLength::State::Unreadable;
  length.Microseconds = microseconds.value_or(0);
  if (OnReady) OnReady(path);
}

QString TrackLengths::Text(const std::string& path) {
  const TrackLength length = Request(path);
  switch (length.Status) {
    case TrackLength::State::Reading: return QStringLiteral("…");
    case TrackLength::State::Known: return QString::fromStdString(FormatTrackDuration(length.Microseconds));
    case TrackLength::State::Unreadable: return QStringLiteral("unreadable");
  }
  return {};
}

std::optional<std::int64_t> TrackLengths::Total(const std::vector<std::string>& tracks) {
  std::int64_t total = 0;
  bool reading = false;
  for (const std::string& track : tracks) {
    const TrackLength length = Request(track);
    reading = reading || length.Status == TrackLength::State::Reading;
    if (length.Status == TrackLength::State::Known) total += length.Microseconds;
  }
  if (reading) return std::nullopt;
  return total;
}

}  // namespace lumivor::studio

// The lengths of a show's tracks, read by the core on a worker thread so that a long file (or one
// whose length is only known once it is decoded) never holds up the window. Each path is read
// once; its result is kept for the session.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QHash>
#include <QString>
#include <QThreadPool>

class QObject;

namespace lumivor::studio {

struct TrackLength {
  enum class State { Reading, Known, Unreadable };
  State Status = State::Reading;
  std::int64_t Microseconds = 0;  // Known only
};

class TrackLengths {
 public:
  TrackLengths();
  // Waits for the reads under way; none is delivered any more.
  ~TrackLengths();
  TrackLengths(const TrackLengths&) = delete;
  TrackLengths& operator=(const TrackLengths&) = delete;

  // Main thread. The length as known now; Reading starts its read the first time, whose end is
  // told through OnReady.
  TrackLength Request(const std::string& path);
  // The text beside a track: "00:03:12.500", "…" while it is read, "unreadable".
  QString Text(const std::string& path);
  // The tracks' lengths together; nothing while any is still being read. Unreadable tracks add
  // nothing, as the show's sound leaves them out.
  std::optional<std::int64_t> Total(const std::vector<std::string>& tracks);
  // Main thread, after a read has ended and its result is kept.
  std::function<void(const std::string& path)> OnReady;
  // Reads not yet delivered.
  int Pending() const { return pending_; }

 private:
  struct Target;
  void Deliver(const std::string& path, std::optional<std::int64_t> microseconds);

  QHash<QString, TrackLength> known_;
  int pending_ = 0;
  std::shared_ptr<Target> target_;
  std::unique_ptr<QObject> receiver_;
  // Last, so that it is waited for before the rest goes.
  QThreadPool pool_;
};

}  // namespace lumivor::studio

// Small pictures of the storyboard's photos, decoded on worker threads by the core's photo loader
// (turned upright as their orientation asks) so that the window stays usable while they load.
// Each is kept per file path and modification time: a file changed on disk is decoded again, an
// unchanged one never twice.
#pragma once

#include <functional>
#include <memory>

#include <QHash>
#include <QImage>
#include <QSize>
#include <QString>
#include <QThreadPool>

class QObject;

namespace lumivor {
class Bitmap;
}

namespace lumivor::studio {

struct Thumbnail {
  enum class State { Loading, Ready, Failed };
  State Status = State::Loading;
  QImage Picture;  // Ready: the photo within the thumbnail size, its shape kept
  QString Reason;  // Failed: the loader's one line, naming the file
};

class ThumbnailCache {
 public:
  explicit ThumbnailCache(QSize size = QSize(160, 120));
  // Waits for the pictures being decoded; none is delivered any more.
  ~ThumbnailCache();
  ThumbnailCache(const ThumbnailCache&) = delete;
  ThumbnailCache& operator=(const ThumbnailCache&) = delete;

  QSize Size() const { return size_; }

  // Main thread. The photo's thumbnail as known now; Loading starts (or restarts, when the file
  // changed since) its decoding, whose end is told through OnReady.
  Thumbnail Request(const QString& path);
  // Main thread, after a decoding has ended and its result is stored.
  std::function<void(const QString& path)> OnReady;

  // Decodings not yet delivered.
  int Pending() const { return pending_; }

 private:
  struct Entry {
    qint64 Modified = 0;  // nanoseconds since the epoch; -1 for a file that could not be asked
    Thumbnail Result;
  };
  struct Target;

  void Deliver(const QString& path, qint64 modified, Thumbnail result);

  QSize size_;
  QHash<QString, Entry> entries_;
  int pending_ = 0;
  std::shared_ptr<Target> target_;
  std::unique_ptr<QObject> receiver_;
  // Last, so that it is waited for before the rest goes.
  QThreadPool pool_;
};

// A picture of the core's (32-bit, bytes blue, green, red, unused) as an opaque image.
QImage ImageOfBitmap(const Bitmap& picture);

// The photo decoded for a thumbnail of at most size, as the loader reads it; Failed with its
// reason. Any thread.
Thumbnail DecodeThumbnail(const QString& path, QSize size);

}  // namespace lumivor::studio

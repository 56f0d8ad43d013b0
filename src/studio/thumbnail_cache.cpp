#include "studio/thumbnail_cache.h"

#include <sys/stat.h>

#include <cstring>
#include <exception>
#include <mutex>
#include <new>

#include <QMetaObject>
#include <QObject>

#include "app/photos/photo_loader.h"

namespace lumivor::studio {
namespace {

qint64 modification_time(const QString& path) {
  struct stat info {};
  if (::stat(path.toStdString().c_str(), &info) != 0) return -1;
  return static_cast<qint64>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

}  // namespace

QImage ImageOfBitmap(const Bitmap& picture) {
  QImage image(picture.Width(), picture.Height(), QImage::Format_RGB32);
  // The loader's pixels are bytes blue, green, red and one unused: Qt's RGB32 in memory on this
  // little-endian machine, once the unused byte is opaque.
  for (int y = 0; y < picture.Height(); ++y) {
    const std::uint8_t* from = picture.ScanLine(y);
    auto* to = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < picture.Width(); ++x, from += 4) to[x] = qRgb(from[2], from[1], from[0]);
  }
  return image;
}

Thumbnail DecodeThumbnail(const QString& path, QSize size) {
  Thumbnail thumbnail;
  try {
    const PictureSizeHint hint{size.width(), size.height(), SizeRule::Inside};
    const Bitmap picture = LoadPhotoFile(path.toStdString(), PictureTurn::Upright, hint);
    thumbnail.Picture = ImageOfBitmap(picture).scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    thumbnail.Status = Thumbnail::State::Ready;
  } catch (const std::bad_alloc&) {
    thumbnail.Status = Thumbnail::State::Failed;
    thumbnail.Reason = path + QStringLiteral(": not enough memory to read it");
  } catch (const std::exception& error) {
    thumbnail.Status = Thumbnail::State::Failed;
    thumbnail.Reason = QString::fromStdString(error.what());
  }
  return thumbnail;
}

// Workers reach the cache only through this guard, which the cache clears before it goes.
struct ThumbnailCache::Target {
  std::mutex Lock;
  QObject* Receiver = nullptr;
  ThumbnailCache* Cache = nullptr;
};

ThumbnailCache::ThumbnailCache(QSize size)
    : size_(size), target_(std::make_shared<Target>()), receiver_(std::make_unique<QObject>()) {
  target_->Receiver = receiver_.get();
  target_->Cache = this;
  // Decoding is memory-heavy (a whole photo before it is reduced); two at a time keep a large
  // folder from taking gigabytes at once.
  pool_.setMaxThreadCount(2);
}

ThumbnailCache::~ThumbnailCache() {
  {
    std::lock_guard<std::mutex> guard(target_->Lock);
    target_->Receiver = nullptr;
    target_->Cache = nullptr;
  }
  pool_.clear();
  pool_.waitForDone();
}

Thumbnail ThumbnailCache::Request(const QString& path) {
  const qint64 modified = modification_time(path);
  auto known = entries_.find(path);
  if (known != entries_.end() && known->Modified == modified) return known->Result;

  Entry& entry = entries_[path];
  entry.Modified = modified;
  entry.Result = Thumbnail{};
  ++pending_;
  pool_.start([target = target_, path, modified, size = size_] {
    Thumbnail result = DecodeThumbnail(path, size);
    std::lock_guard<std::mutex> guard(target->Lock);
    if (target->Receiver == nullptr) return;
    QMetaObject::invokeMethod(
        target->Receiver,
        [target, path, modified, result = std::move(result)]() mutable {
          if (target->Cache != nullptr) target->Cache->Deliver(path, modified, std::move(result));
        },
        Qt::QueuedConnection);
  });
  return entry.Result;
}

void ThumbnailCache::Deliver(const QString& path, qint64 modified, Thumbnail result) {
  --pending_;
  auto entry = entries_.find(path);
  // A decoding of a version of the file that has since been replaced is of no use.
  if (entry == entries_.end() || entry->Modified != modified) return;
  entry->Result = std::move(result);
  if (OnReady) OnReady(path);
}

}  // namespace lumivor::studio

#include "studio/storyboard_model.h"

#include <unistd.h>

#include <algorithm>
#include <set>

#include <QDataStream>
#include <QFileInfo>
#include <QFont>
#include <QIODevice>
#include <QMimeData>
#include <QPainter>
#include <QPen>
#include <QUndoCommand>
#include <QUndoStack>
#include <QUrl>

#include "studio/dropped_files.h"
#include "studio/thumbnail_cache.h"

namespace lumivor::studio {
namespace {

using Entries = std::vector<std::pair<int, ShowPhoto>>;

// Photos put in (or taken out) at their rows; the rows are those of the list with the photos in,
// ascending.
class RowsCommand : public QUndoCommand {
 public:
  RowsCommand(StoryboardModel& model, Entries entries, bool insert, const QString& text)
      : QUndoCommand(text), model_(model), entries_(std::move(entries)), insert_(insert) {}
  void redo() override { insert_ ? model_.InsertEntries(entries_) : model_.EraseEntries(entries_); }
  void undo() override { insert_ ? model_.EraseEntries(entries_) : model_.InsertEntries(entries_); }

 private:
  StoryboardModel& model_;
  Entries entries_;
  bool insert_;
};

// A new order: the photo at row i afterwards is the one at order[i] before.
class ReorderCommand : public QUndoCommand {
 public:
  ReorderCommand(StoryboardModel& model, std::vector<int> order, const QString& text)
      : QUndoCommand(text), model_(model), order_(std::move(order)), inverse_(order_.size()) {
    for (std::size_t i = 0; i < order_.size(); ++i) inverse_[static_cast<std::size_t>(order_[i])] = static_cast<int>(i);
  }
  void redo() override { model_.Reorder(order_); }
  void undo() override { model_.Reorder(inverse_); }

 private:
  StoryboardModel& model_;
  std::vector<int> order_;
  std::vector<int> inverse_;
};

// Photos' own choices and captions, each row's before and after.
class ChoicesCommand : public QUndoCommand {
 public:
  using Rows = std::vector<std::pair<int, ShowPhoto>>;
  ChoicesCommand(StoryboardModel& model, Rows before, Rows after, int mergeId, const QString& text)
      : QUndoCommand(text), model_(model), before_(std::move(before)), after_(std::move(after)), mergeId_(mergeId) {}
  void redo() override { model_.AssignOwn(after_); }
  void undo() override { model_.AssignOwn(before_); }
  int id() const override { return mergeId_; }
  bool mergeWith(const QUndoCommand* other) override {
    const auto* next = dynamic_cast<const ChoicesCommand*>(other);
    if (next == nullptr || next->mergeId_ != mergeId_ || !same_rows(next->before_, after_)) return false;
    after_ = next->after_;
    // Stepped back to where it began: nothing is left to undo.
    setObsolete(after_ == before_);
    return true;
  }

 private:
  static bool same_rows(const Rows& a, const Rows& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i].first != b[i].first) return false;
    }
    return true;
  }
  StoryboardModel& model_;
  Rows before_;
  Rows after_;
  int mergeId_;
};

// Rows dragged within a storyboard name their storyboard, so that rows from another window (or
// another Studio) are never taken for this one's.
QByteArray storyboard_identity(const StoryboardModel* model) {
  return QByteArray::number(static_cast<qlonglong>(::getpid())) + ':' +
         QByteArray::number(reinterpret_cast<quintptr>(model));
}

}  // namespace

bool HasOwn(const ShowPhoto& photo) { return photo.Choices.HasAny() || photo.Caption.has_value(); }

StoryboardModel::StoryboardModel(ThumbnailCache& thumbnails, QUndoStack& undo) : thumbnails_(thumbnails), undo_(undo) {
  thumbnails_.OnReady = [this](const QString& path) { ThumbnailReady(path); };
}

void StoryboardModel::ResetPhotos(std::vector<ShowPhoto> photos) {
  beginResetModel();
  photos_ = std::move(photos);
  endResetModel();
  // Every photo is asked for at once, so a photo that cannot be read shows so as soon as it is in.
  for (const ShowPhoto& photo : photos_) thumbnails_.Request(QString::fromStdString(photo.File));
}

std::vector<int> StoryboardModel::ValidRows(const std::vector<int>& rows) const {
  std::set<int> valid;
  for (const int row : rows) {
    if (row >= 0 && row < rowCount()) valid.insert(row);
  }
  return {valid.begin(), valid.end()};
}

void StoryboardModel::AddPhotos(int row, const std::vector<std::string>& files) {
  if (files.empty()) return;
  row = std::clamp(row, 0, rowCount());
  Entries entries;
  for (const std::string& file : files) entries.push_back({row++, ShowPhoto{file, {}}});
  undo_.push(new RowsCommand(*this, std::move(entries), true,
                             files.size() == 1 ? QStringLiteral("Add Photo") : QStringLiteral("Add Photos")));
}

void StoryboardModel::RemoveRows(const std::vector<int>& rows) {
  Entries entries;
  for (const int row : ValidRows(rows)) entries.push_back({row, photos_[static_cast<std::size_t>(row)]});
  if (entries.empty()) return;
  const QString text = entries.size() == 1 ? QStringLiteral("Remove Photo") : QStringLiteral("Remove Photos");
  undo_.push(new RowsCommand(*this, std::move(entries), false, text));
}

void StoryboardModel::DuplicateRows(const std::vector<int>& rows) {
  Entries entries;
  int added = 0;
  for (const int row : ValidRows(rows)) {
    // Each copy goes right after its photo, which earlier copies have moved down.
    entries.push_back({row + added + 1, photos_[static_cast<std::size_t>(row)]});
    ++added;
  }
  if (entries.empty()) return;
  undo_.push(new RowsCommand(*this, std::move(entries), true, QStringLiteral("Duplicate")));
}

void StoryboardModel::MoveRows(const std::vector<int>& rows, int destination) {
  const std::vector<int> moving = ValidRows(rows);
  if (moving.empty()) return;
  destination = std::clamp(destination, 0, rowCount());
  std::vector<int> order;
  std::vector<bool> moved(photos_.size(), false);
  for (const int row : moving) moved[static_cast<std::size_t>(row)] = true;
  for (int row = 0; row <= rowCount(); ++row) {
    if (row == destination) order.insert(order.end(), moving.begin(), moving.end());
    if (row < rowCount() && !moved[static_cast<std::size_t>(row)]) order.push_back(row);
  }
  bool same = true;
  for (std::size_t i = 0; i < order.size(); ++i) same = same && order[i] == static_cast<int>(i);
  if (same) return;
  undo_.push(new ReorderCommand(*this, std::move(order),
                                moving.size() == 1 ? QStringLiteral("Move Photo") : QStringLiteral("Move Photos")));
}

void StoryboardModel::EditChoices(const std::vector<int>& rows, const std::function<void(PhotoChoices&)>& edit,
                                   int mergeId, const QString& text) {
  EditOwn(rows, [&edit](ShowPhoto& photo) { edit(photo.Choices); }, mergeId, text);
}

void StoryboardModel::EditOwn(const std::vector<int>& rows, const std::function<void(ShowPhoto&)>& edit, int mergeId,
                              const QString& text) {
  ChoicesCommand::Rows before, after;
  for (const int row : ValidRows(rows)) {
    const ShowPhoto& now = photos_[static_cast<std::size_t>(row)];
    ShowPhoto changed = now;
    edit(changed);
    changed.File = now.File;
    before.push_back({row, now});
    after.push_back({row, changed});
  }
  if (before == after) return;
  undo_.push(new ChoicesCommand(*this, std::move(before), std::move(after), mergeId, text));
}

void StoryboardModel::AssignOwn(const std::vector<std::pair<int, ShowPhoto>>& own) {
  for (const auto& [row, photo] : own) {
    if (row < 0 || row >= rowCount()) continue;
    photos_[static_cast<std::size_t>(row)].Choices = photo.Choices;
    photos_[static_cast<std::size_t>(row)].Caption = photo.Caption;
    emit dataChanged(index(row), index(row), {Qt::DecorationRole, OwnChoicesRole});
  }
}

void StoryboardModel::InsertEntries(const Entries& entries) {
  // Rows that follow one another go in as one block: the view lays itself out once per block, not
  // once per photo, which for hundreds of photos added at once is the difference between a pause
  // and none.
  std::size_t first = 0;
  while (first < entries.size()) {
    std::size_t end = first + 1;
    while (end < entries.size() && entries[end].first == entries[end - 1].first + 1) ++end;
    const int row = entries[first].first;
    beginInsertRows(QModelIndex(), row, row + static_cast<int>(end - first) - 1);
    std::vector<ShowPhoto> block;
    for (std::size_t i = first; i < end; ++i) block.push_back(entries[i].second);
    photos_.insert(photos_.begin() + row, block.begin(), block.end());
    endInsertRows();
    for (const ShowPhoto& photo : block) thumbnails_.Request(QString::fromStdString(photo.File));
    first = end;
  }
}

void StoryboardModel::EraseEntries(const Entries& entries) {
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    beginRemoveRows(QModelIndex(), entry->first, entry->first);
    photos_.erase(photos_.begin() + entry->first);
    endRemoveRows();
  }
}

void StoryboardModel::Reorder(const std::vector<int>& order) {
  if (order.size() != photos_.size()) return;
  emit layoutAboutToBeChanged();
  std::vector<int> newRow(order.size());
  for (std::size_t i = 0; i < order.size(); ++i) newRow[static_cast<std::size_t>(order[i])] = static_cast<int>(i);
  std::vector<ShowPhoto> reordered;
  reordered.reserve(photos_.size());
  for (const int from : order) reordered.push_back(std::move(photos_[static_cast<std::size_t>(from)]));
  photos_ = std::move(reordered);
  // The selection and the current photo follow their photos.
  const QModelIndexList before = persistentIndexList();
  QModelIndexList after;
  for (const QModelIndex& index : before) after.push_back(this->index(newRow[static_cast<std::size_t>(index.row())]));
  changePersistentIndexList(before, after);
  emit layoutChanged();
}

void StoryboardModel::ThumbnailReady(const QString& path) {
  const std::string file = path.toStdString();
  for (int row = 0; row < rowCount(); ++row) {
    if (photos_[static_cast<std::size_t>(row)].File == file) {
      emit dataChanged(index(row), index(row), {Qt::DecorationRole, Qt::ToolTipRole, StateRole});
    }
  }
}

int StoryboardModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(photos_.size());
}

QVariant StoryboardModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const QString path = QString::fromStdString(photos_[static_cast<std::size_t>(index.row())].File);
  switch (role) {
    case Qt::DisplayRole:
      return QFileInfo(path).fileName();
    case PathRole:
      return path;
    case OwnChoicesRole:
      return HasOwn(photos_[static_cast<std::size_t>(index.row())]);
    case Qt::DecorationRole:
    case Qt::ToolTipRole:
    case StateRole: {
      const Thumbnail thumbnail = thumbnails_.Request(path);
      if (role == StateRole) return static_cast<int>(thumbnail.Status);
      if (role == Qt::ToolTipRole) {
        return thumbnail.Status == Thumbnail::State::Failed ? path + QStringLiteral("\n") + thumbnail.Reason : path;
      }
      QPixmap picture;
      switch (thumbnail.Status) {
        case Thumbnail::State::Ready: picture = QPixmap::fromImage(thumbnail.Picture); break;
        case Thumbnail::State::Loading: picture = Placeholder(); break;
        case Thumbnail::State::Failed: picture = ErrorBadge(); break;
      }
      if (HasOwn(photos_[static_cast<std::size_t>(index.row())])) return WithOwnChoicesMark(picture);
      return picture;
    }
    default:
      return {};
  }
}

QPixmap StoryboardModel::Placeholder() const {
  if (placeholder_.isNull()) {
    placeholder_ = QPixmap(thumbnails_.Size());
    placeholder_.fill(QColor(0x50, 0x50, 0x50));
    QPainter painter(&placeholder_);
    painter.setPen(QColor(0xc0, 0xc0, 0xc0));
    painter.drawText(placeholder_.rect(), Qt::AlignCenter, QStringLiteral("Loading…"));
  }
  return placeholder_;
}

QPixmap StoryboardModel::ErrorBadge() const {
  if (errorBadge_.isNull()) {
    errorBadge_ = QPixmap(thumbnails_.Size());
    errorBadge_.fill(QColor(0x30, 0x30, 0x30));
    QPainter painter(&errorBadge_);
    painter.setRenderHint(QPainter::Antialiasing);
    const int side = std::min(errorBadge_.width(), errorBadge_.height()) / 2;
    const QRect badge((errorBadge_.width() - side) / 2, (errorBadge_.height() - side) / 2, side, side);
    painter.setBrush(QColor(0xd0, 0x20, 0x20));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(badge);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(side * 2 / 3);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(badge, Qt::AlignCenter, QStringLiteral("!"));
  }
  return errorBadge_;
}

QPixmap StoryboardModel::WithOwnChoicesMark(QPixmap picture) const {
  if (picture.isNull()) return picture;
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  // A small dot in the top right corner, ringed so that it shows on light and dark photos alike.
  const int side = std::max(8, std::min(picture.width(), picture.height()) / 8);
  const QRect mark(picture.width() - side - 3, 3, side, side);
  painter.setPen(QPen(Qt::white, 1.5));
  painter.setBrush(QColor(0x20, 0x80, 0xe0));
  painter.drawEllipse(mark);
  return picture;
}

Qt::ItemFlags StoryboardModel::flags(const QModelIndex& index) const {
  // Photos are dropped between photos, never onto one.
  if (!index.isValid()) return Qt::ItemIsDropEnabled;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

Qt::DropActions StoryboardModel::supportedDropActions() const {
  return Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
}

// Rows only move within the storyboard. No file names go out with them: a file manager taking a
// move of them would move the user's photos.
Qt::DropActions StoryboardModel::supportedDragActions() const { return Qt::MoveAction; }

QStringList StoryboardModel::mimeTypes() const {
  return {QString::fromLatin1(RowsMimeType), QStringLiteral("text/uri-list")};
}

QMimeData* StoryboardModel::mimeData(const QModelIndexList& indexes) const {
  std::vector<int> rows;
  for (const QModelIndex& index : indexes) rows.push_back(index.row());
  rows = ValidRows(rows);
  QByteArray bytes;
  QDataStream out(&bytes, QIODevice::WriteOnly);
  out << storyboard_identity(this) << static_cast<qint32>(rows.size());
  for (const int row : rows) out << static_cast<qint32>(row);
  auto* data = new QMimeData;
  data->setData(QString::fromLatin1(RowsMimeType), bytes);
  return data;
}

bool StoryboardModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int, int, const QModelIndex&) const {
  if (data == nullptr) return false;
  if (data->hasFormat(QString::fromLatin1(RowsMimeType))) {
    QDataStream in(data->data(QString::fromLatin1(RowsMimeType)));
    QByteArray identity;
    in >> identity;
    return identity == storyboard_identity(this);
  }
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) return true;
  }
  return false;
}

bool StoryboardModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                   const QModelIndex& parent) {
  if (action == Qt::IgnoreAction || !canDropMimeData(data, action, row, column, parent)) return false;
  const int destination = row >= 0 ? row : parent.isValid() ? parent.row() : rowCount();
  if (data->hasFormat(QString::fromLatin1(RowsMimeType))) {
    QDataStream in(data->data(QString::fromLatin1(RowsMimeType)));
    QByteArray identity;
    qint32 count = 0;
    in >> identity >> count;
    std::vector<int> rows;
    for (qint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
      qint32 moved = -1;
      in >> moved;
      rows.push_back(moved);
    }
    MoveRows(rows, destination);
    return true;
  }
  std::vector<std::string> paths;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
  }
  const SortedFiles sorted = SortDroppedFiles(paths);
  // One drop is one edit, whatever it brought: one undo takes its photos and its tracks back.
  const bool both = !sorted.Photos.empty() && !sorted.Tracks.empty() && OnTracksDropped;
  if (both) undo_.beginMacro(QStringLiteral("Drop"));
  AddPhotos(destination, sorted.Photos);
  if (!sorted.Tracks.empty() && OnTracksDropped) OnTracksDropped(sorted.Tracks);
  if (both) undo_.endMacro();
  return !sorted.Photos.empty() || !sorted.Tracks.empty();
}

}  // namespace lumivor::studio

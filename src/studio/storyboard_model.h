// The storyboard: the show's photos in order, as a list model with their thumbnails. Every edit
// (add, remove, move, duplicate, and the drops that add or move) goes through the undo stack as
// one command, so each can be taken back and done again.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QAbstractListModel>
#include <QPixmap>

#include "app/run/show_project.h"

class QUndoStack;

namespace lumivor::studio {

class ThumbnailCache;

// The photo has choices or a caption of its own, which its thumbnail marks.
bool HasOwn(const ShowPhoto& photo);

class StoryboardModel : public QAbstractListModel {
 public:
  // Beyond the standard roles: the photo's full path, and its thumbnail's Thumbnail::State.
  static constexpr int PathRole = Qt::UserRole + 1;
  static constexpr int StateRole = Qt::UserRole + 2;
  // True for a photo with choices or a caption of its own (its thumbnail carries a mark).
  static constexpr int OwnChoicesRole = Qt::UserRole + 3;
  // The drag of rows within one storyboard.
  static constexpr const char* RowsMimeType = "application/x-lumivor-storyboard-rows";

  StoryboardModel(ThumbnailCache& thumbnails, QUndoStack& undo);

  const std::vector<ShowPhoto>& Photos() const { return photos_; }
  // A new show's photos (a project opened, a new one): no edit, nothing to undo.
  void ResetPhotos(std::vector<ShowPhoto> photos);

  // Edits, each one undo command; rows out of range are ignored and an edit that changes nothing
  // pushes nothing. row: where the photos go (rowCount() or beyond: the end).
  void AddPhotos(int row, const std::vector<std::string>& files);
  void RemoveRows(const std::vector<int>& rows);
  // The rows, in their order, go before the photo now at destination (rowCount(): the end).
  void MoveRows(const std::vector<int>& rows, int destination);
  // A copy of each row, own choices included, right after it.
  void DuplicateRows(const std::vector<int>& rows);

  // The rows' own choices changed by edit, as one command. Commands with the same mergeId (not -1)
  // on the same rows, one right after the other, become one: a spin box stepped many times is
  // one undo step. An edit that changes nothing pushes nothing.
  void EditChoices(const std::vector<int>& rows, const std::function<void(PhotoChoices&)>& edit, int mergeId,
                   const QString& text);
  // The same for what a photo has of its own: its choices and its caption (its file stays).
  void EditOwn(const std::vector<int>& rows, const std::function<void(ShowPhoto&)>& edit, int mergeId,
               const QString& text);

  // Tracks among files dropped on the storyboard.
  std::function<void(const std::vector<std::string>& tracks)> OnTracksDropped;

  // Used by the undo commands.
  void InsertEntries(const std::vector<std::pair<int, ShowPhoto>>& entries);
  void EraseEntries(const std::vector<std::pair<int, ShowPhoto>>& entries);
  void Reorder(const std::vector<int>& order);
  // Each row takes the entry's choices and caption.
  void AssignOwn(const std::vector<std::pair<int, ShowPhoto>>& own);

  // QAbstractItemModel.
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  Qt::DropActions supportedDropActions() const override;
  Qt::DropActions supportedDragActions() const override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                       const QModelIndex& parent) const override;
  bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                    const QModelIndex& parent) override;

 private:
  void ThumbnailReady(const QString& path);
  std::vector<int> ValidRows(const std::vector<int>& rows) const;
  QPixmap Placeholder() const;
  QPixmap ErrorBadge() const;
  QPixmap WithOwnChoicesMark(QPixmap picture) const;

  ThumbnailCache& thumbnails_;
  QUndoStack& undo_;
  std::vector<ShowPhoto> photos_;
  mutable QPixmap placeholder_;
  mutable QPixmap errorBadge_;
};

}  // namespace lumivor::studio

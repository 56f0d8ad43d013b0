#include "studio/storyboard_view.h"

#include <algorithm>

#include <QItemSelectionModel>
#include <QStyleOptionViewItem>

namespace lumivor::studio {

StoryboardView::StoryboardView(QWidget* parent) : QListView(parent) {
  setObjectName(QStringLiteral("storyboard"));
  // List mode flowing left to right keeps the model's order as the only order; the icon mode's
  // free placement would let a drag move pictures about without changing the show.
  setViewMode(QListView::ListMode);
  setFlow(QListView::LeftToRight);
  setWrapping(true);
  setResizeMode(QListView::Adjust);
  setUniformItemSizes(true);
  setIconSize(QSize(160, 120));
  setGridSize(QSize(180, 160));
  setSpacing(4);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setDragEnabled(true);
  setAcceptDrops(true);
  setDropIndicatorShown(true);
  setDragDropMode(QAbstractItemView::DragDrop);
  setDefaultDropAction(Qt::MoveAction);
  setTextElideMode(Qt::ElideMiddle);
}

std::vector<int> StoryboardView::SelectedRows() const {
  std::vector<int> rows;
  if (selectionModel() == nullptr) return rows;
  for (const QModelIndex& index : selectionModel()->selectedIndexes()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

void StoryboardView::initViewItemOption(QStyleOptionViewItem* option) const {
  QListView::initViewItemOption(option);
  option->decorationPosition = QStyleOptionViewItem::Top;
  option->decorationAlignment = Qt::AlignCenter;
  option->displayAlignment = Qt::AlignHCenter | Qt::AlignTop;
}

}  // namespace lumivor::studio

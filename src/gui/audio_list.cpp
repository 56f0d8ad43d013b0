#include "gui/audio_list.h"

#include <algorithm>

#include <QHeaderView>
#include <QPainter>

#include "app/common/global_object.h"

namespace lumivor::gui {

namespace {

QColor ColourOf(const RowColour& colour) { return QColor(colour.R, colour.G, colour.B); }

}  // namespace

AudioListView::AudioListView(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(2);
  setHeaderLabels({QStringLiteral("Audio Files"), QStringLiteral("Duration")});
  setColumnWidth(0, 350);
  // 80 pixels hold a duration in the small fonts the list was laid out for; a desktop with larger
  // ones gets the width its font needs, so that no duration is cut short.
  setColumnWidth(1, std::max(80, fontMetrics().horizontalAdvance(QStringLiteral("00:00:00.000")) + 12));
  header()->setStretchLastSection(false);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  connect(this, &QTreeWidget::itemSelectionChanged, this, [this] {
    if (showing_ || !OnSelect) return;
    const QList<QTreeWidgetItem*> selected = selectedItems();
    OnSelect(selected.isEmpty() ? -1 : indexOfTopLevelItem(selected.front()));
  });
}

void AudioListView::ShowTracks(const AudioTrackList& tracks) {
  // The rows come from the list; showing them is not the user selecting. Items are updated in
  // place, since this also runs while Qt reports the user's click on one of them.
  showing_ = true;
  const auto& rows = tracks.Rows();
  while (topLevelItemCount() > static_cast<int>(rows.size())) delete takeTopLevelItem(topLevelItemCount() - 1);
  while (topLevelItemCount() < static_cast<int>(rows.size())) addTopLevelItem(new QTreeWidgetItem);
  for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
    QTreeWidgetItem* item = topLevelItem(row);
    item->setText(0, QString::fromStdString(rows[row].Path));
    item->setText(1, QString::fromStdString(rows[row].DurationText));
    const bool selected = row == tracks.Selected();
    if (item->isSelected() != selected) item->setSelected(selected);
    if (selected && currentItem() != item) setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
  }
  showing_ = false;
  viewport()->update();
}

void AudioListView::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const int row = index.row();
  const bool selected = selectionModel()->isRowSelected(row, index.parent());
  const bool focused = hasFocus() && currentIndex().row() == row;
  const AudioRowPaint paint = AudioRowColours(row, selected, focused);

  painter->save();
  const QRect bounds = option.rect;
  const QRect fill = bounds.adjusted(AudioRowFillInset, 0, -AudioRowFillInset, 0);
  painter->fillRect(fill, ColourOf(paint.Fill));
  if (paint.Frame) {
    painter->setPen(ColourOf(*paint.Frame));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(fill.adjusted(0, 0, -1, -1));
  }
  painter->setPen(palette().color(QPalette::Text));
  for (int column = 0; column < columnCount(); ++column) {
    const QModelIndex cell = index.sibling(row, column);
    QRect text = visualRect(cell);
    text.setTop(bounds.top());
    text.setBottom(bounds.bottom());
    if (column == 0) text.adjust(AudioFirstColumnTextInset, 0, -AudioFirstColumnTextInset, 0);
    const Qt::Alignment horizontal =
        static_cast<Qt::Alignment>(headerItem()->textAlignment(column)) & Qt::AlignHorizontal_Mask;
    const QString shown =
        painter->fontMetrics().elidedText(cell.data(Qt::DisplayRole).toString(), Qt::ElideRight, text.width());
    painter->drawText(text, static_cast<int>((horizontal ? horizontal : Qt::AlignLeft) | Qt::AlignVCenter |
                                             Qt::TextSingleLine),
                      shown);
  }
  painter->restore();
}

void ShowPlayFailure(MessageBoxes& messages, const std::string& reason) {
  messages.ShowMessage("The audio track cannot be played.\n\n" + reason, GlobalObject().ProductName(),
                       MessageIcon::Exclamation, MessageButtons::Ok);
}

}  // namespace lumivor::gui

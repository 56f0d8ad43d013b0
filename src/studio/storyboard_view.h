// The storyboard's list: thumbnails in rows that wrap, names under them. It is a list, not a free
// icon field: photos are ordered, so a drag always means "put them here in the order", and the
// drop marker sits between two photos.
#pragma once

#include <vector>

#include <QListView>

namespace lumivor::studio {

class StoryboardView : public QListView {
 public:
  explicit StoryboardView(QWidget* parent = nullptr);
  // The selected rows, ascending.
  std::vector<int> SelectedRows() const;

 protected:
  void initViewItemOption(QStyleOptionViewItem* option) const override;
};

}  // namespace lumivor::studio

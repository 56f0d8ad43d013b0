#include "studio/effect_gallery.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/samples/sample_pictures.h"
#include "effects/effect.h"
#include "studio/thumbnail_cache.h"

namespace lumivor::studio {
namespace {

constexpr int EffectRole = Qt::UserRole + 1;
// Still frames at either end of a pass, so that the eye sees where it starts and ends.
constexpr int StillFrames = 5;
// About 12 frames a second: smooth enough to tell effects apart, light on the main thread.
constexpr int TickMilliseconds = 80;
// Frames kept, in kilobytes: a couple of screenfuls of previews for a whole pass.
constexpr int CacheKilobytes = 24 * 1024;

const char* const DefaultText = "Show's default";

QString item_text(int effect) {
  if (effect == 0) return QString::fromLatin1(DefaultText);
  return QStringLiteral("%1  %2").arg(effect).arg(QString::fromUtf8(EffectList[static_cast<std::size_t>(effect - 1)].Name));
}

bool matches(int effect, const QString& filter) {
  if (filter.isEmpty()) return true;
  bool isNumber = false;
  filter.toInt(&isNumber);
  if (isNumber) return effect != 0 && QString::number(effect).startsWith(filter);
  const QString name = effect == 0 ? QString::fromLatin1(DefaultText)
                                   : QString::fromUtf8(EffectList[static_cast<std::size_t>(effect - 1)].Name);
  return name.contains(filter, Qt::CaseInsensitive);
}

}  // namespace

EffectGallery::EffectGallery(std::optional<int> current, QWidget* parent)
    : QDialog(parent),
      from_(MakeSamplePicture(SamplePicture::Landscape, FrameWidth, FrameHeight)),
      to_(MakeSamplePicture(SamplePicture::Pattern, FrameWidth, FrameHeight)),
      frames_(CacheKilobytes) {
  setObjectName(QStringLiteral("EffectGallery"));
  setWindowTitle(QStringLiteral("Transition Effect"));
  edtFilter = new QLineEdit;
  edtFilter->setObjectName(QStringLiteral("edtFilter"));
  edtFilter->setPlaceholderText(QStringLiteral("Number or name"));
  edtFilter->setClearButtonEnabled(true);
  edtFilter->installEventFilter(this);
  auto* filterLabel = new QLabel(QStringLiteral("&Find:"));
  filterLabel->setBuddy(edtFilter);

  lstEffects = new QListWidget;
  lstEffects->setObjectName(QStringLiteral("lstEffects"));
  lstEffects->setViewMode(QListView::IconMode);
  lstEffects->setMovement(QListView::Static);
  lstEffects->setResizeMode(QListView::Adjust);
  lstEffects->setUniformItemSizes(true);
  lstEffects->setIconSize(QSize(FrameWidth, FrameHeight));
  lstEffects->setWordWrap(true);
  lstEffects->setSelectionMode(QAbstractItemView::SingleSelection);
  const QFontMetrics metrics = fontMetrics();
  lstEffects->setGridSize(QSize(FrameWidth + 24, FrameHeight + 3 * metrics.height() + 8));
  for (int effect = 0; effect <= EffectCount; ++effect) {
    auto* item = new QListWidgetItem(item_text(effect), lstEffects);
    item->setData(EffectRole, effect);
    item->setToolTip(item_text(effect));
  }

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* filterRow = new QHBoxLayout;
  filterRow->addWidget(filterLabel);
  filterRow->addWidget(edtFilter, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(filterRow);
  layout->addWidget(lstEffects, 1);
  layout->addWidget(buttons);

  connect(edtFilter, &QLineEdit::textChanged, this, [this](const QString& text) { SetFilter(text); });
  connect(lstEffects, &QListWidget::itemActivated, this, [this] { accept(); });
  connect(edtFilter, &QLineEdit::returnPressed, this, [this] {
    if (lstEffects->currentItem() != nullptr && !lstEffects->currentItem()->isHidden()) accept();
  });

  timer_ = new QTimer(this);
  timer_->setInterval(TickMilliseconds);
  connect(timer_, &QTimer::timeout, this, [this] { Advance(); });

  SelectEffect(current.value_or(0));
  resize(5 * (FrameWidth + 24) + 60, 560);
  edtFilter->setFocus();
}

void EffectGallery::SetFilter(const QString& text) {
  const QString filter = text.trimmed();
  QListWidgetItem* first = nullptr;
  for (int row = 0; row < lstEffects->count(); ++row) {
    QListWidgetItem* item = lstEffects->item(row);
    const bool shown = matches(item->data(EffectRole).toInt(), filter);
    item->setHidden(!shown);
    if (shown && first == nullptr) first = item;
  }
  QListWidgetItem* current = lstEffects->currentItem();
  if (current == nullptr || current->isHidden()) {
    lstEffects->setCurrentItem(first);
  }
  // A number typed whole picks its effect, so that Enter takes it.
  bool isNumber = false;
  const int number = filter.toInt(&isNumber);
  if (isNumber) SelectEffect(number);
  if (lstEffects->currentItem() != nullptr) lstEffects->scrollToItem(lstEffects->currentItem());
  Advance();
}

std::vector<int> EffectGallery::ShownEffects() const {
  std::vector<int> shown;
  for (int row = 0; row < lstEffects->count(); ++row) {
    if (!lstEffects->item(row)->isHidden()) shown.push_back(lstEffects->item(row)->data(EffectRole).toInt());
  }
  return shown;
}

bool EffectGallery::SelectEffect(int effect) {
  if (effect < 0 || effect > EffectCount) return false;
  QListWidgetItem* item = lstEffects->item(effect);
  if (item == nullptr || item->isHidden()) return false;
  lstEffects->setCurrentItem(item);
  return true;
}

std::optional<int> EffectGallery::Chosen() const {
  const QListWidgetItem* item = lstEffects->currentItem();
  if (item == nullptr) return std::nullopt;
  const int effect = item->data(EffectRole).toInt();
  if (effect == 0) return std::nullopt;
  return effect;
}

int EffectGallery::ProgressAt(int step) {
  const int moving = PassFrames - 2 * StillFrames;
  if (step < StillFrames) return 0;
  if (step >= StillFrames + moving) return 100;
  return 1 + (step - StillFrames) * 98 / (moving - 1);
}

QPixmap EffectGallery::Frame(int effect, int step) {
  const int key = effect * PassFrames + step;
  if (QPixmap* kept = frames_.object(key)) return *kept;
  // Drawn once and kept: effects that scatter at random then repeat the same pass each time round
  // instead of flickering between draws.
  ComposeTransitionFrame(work_, from_, to_, effect, ProgressAt(step));
  auto* frame = new QPixmap(QPixmap::fromImage(ImageOfBitmap(work_)));
  ++framesDrawn_;
  const QPixmap copy = *frame;
  frames_.insert(key, frame, FrameWidth * FrameHeight * 4 / 1024);
  return copy;
}

void EffectGallery::Advance() {
  step_ = (step_ + 1) % PassFrames;
  const QRect view = lstEffects->viewport()->rect();
  for (int row = 0; row < lstEffects->count(); ++row) {
    QListWidgetItem* item = lstEffects->item(row);
    if (item->isHidden() || !lstEffects->visualItemRect(item).intersects(view)) continue;
    const int effect = item->data(EffectRole).toInt();
    // The show's default has no one transition to show: it keeps the two pictures side by side.
    if (effect == 0) {
      if (item->icon().isNull()) {
        QPixmap both(FrameWidth, FrameHeight);
        QPixmap first = QPixmap::fromImage(ImageOfBitmap(from_));
        QPixmap second = QPixmap::fromImage(ImageOfBitmap(to_));
        QPainter painter(&both);
        painter.drawPixmap(QRect(0, 0, FrameWidth / 2, FrameHeight), first, QRect(0, 0, FrameWidth / 2, FrameHeight));
        painter.drawPixmap(QRect(FrameWidth / 2, 0, FrameWidth / 2, FrameHeight), second,
                           QRect(FrameWidth / 2, 0, FrameWidth / 2, FrameHeight));
        painter.end();
        item->setIcon(QIcon(both));
      }
      continue;
    }
    item->setIcon(QIcon(Frame(effect, step_)));
  }
}

void EffectGallery::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  timer_->start();
}

void EffectGallery::hideEvent(QHideEvent* event) {
  timer_->stop();
  QDialog::hideEvent(event);
}

bool EffectGallery::eventFilter(QObject* watched, QEvent* event) {
  // Up and Down typed in the filter line go to the previous and next item found, and the page
  // keys page the list, so that the keyboard never has to leave the line to choose.
  if (watched == edtFilter && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
      case Qt::Key_Up:
      case Qt::Key_Down: {
        const int step = key->key() == Qt::Key_Down ? 1 : -1;
        for (int row = lstEffects->currentRow() + step; row >= 0 && row < lstEffects->count(); row += step) {
          if (!lstEffects->item(row)->isHidden()) {
            lstEffects->setCurrentRow(row);
            lstEffects->scrollToItem(lstEffects->item(row));
            break;
          }
        }
        return true;
      }
      case Qt::Key_PageUp:
      case Qt::Key_PageDown:
        QApplication::sendEvent(lstEffects, event);
        return true;
      default:
        break;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace lumivor::studio

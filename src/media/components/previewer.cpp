#include "media/components/previewer.h"

#include <utility>

#include "media/runtime/format_text.h"
#include "media/runtime/main_thread.h"

extern "C" {
#include <libavutil/avutil.h>
}

namespace lumivor {

void HeadlessPreviewerForm::ShowWithClientSize(int width, int height) {
  Visible = true;
  ClientWidth = width;
  ClientHeight = height;
  Canvas.Resize(width, height, 32);
  Canvas.Fill(0);
}

void HeadlessPreviewerForm::SetCaption(const std::string& caption) { Caption = caption; }

void HeadlessPreviewerForm::DrawPicture(const Bitmap& picture) {
  ++PaintCount;
  // The canvas takes the depth of what it is shown (the hook depth the task was given).
  if (Canvas.BitsPerPixel() != picture.BitsPerPixel()) {
    Canvas.Resize(ClientWidth, ClientHeight, picture.BitsPerPixel());
    Canvas.Palette() = picture.Palette();
  }
  CopyRect(Canvas, 0, 0, picture.Width(), picture.Height(), picture, 0, 0);
}

void HeadlessPreviewerForm::CloseByUser() {
  if (OnCloseQuery) OnCloseQuery();
  Visible = false;
}

std::string PreviewCaption(std::int64_t pictureTime) {
  if (pictureTime == AV_NOPTS_VALUE) return "N/A";
  const std::int64_t t = pictureTime + 5000;
  return FormatText("%.2d:%.2d:%.2d.%.3d", static_cast<int>(t / 3600000000LL), static_cast<int>(t / 60000000 % 60),
                    static_cast<int>(t / 1000000 % 60), static_cast<int>(t / 1000 % 1000));
}

TPreviewer::TPreviewer(PreviewerFormFactory formFactory) : formFactory_(std::move(formFactory)) {}

TPreviewer::~TPreviewer() {
  if (previewForm_) RunInMainThread([this] { previewForm_.reset(); });
}

int TPreviewer::ShowPicture(Bitmap& picture, std::int32_t pictureNumber, std::int64_t pictureTime) {
  if (closedByUser_.load()) return 0;
  Picture = &picture;
  PictureNumber = pictureNumber;
  PictureTime = pictureTime;
  RaiseEvent([this] { Paint(); });
  return closedByUser_.load() ? 0 : 1;
}

void TPreviewer::Paint() {
  if (closedByUser_.load() || Picture == nullptr) return;
  if (!previewForm_) {
    if (!formFactory_) return;
    previewForm_ = formFactory_();
    if (!previewForm_) return;
    previewForm_->OnCloseQuery = [this] { closedByUser_.store(true); };
    previewForm_->ShowWithClientSize(Picture->Width(), Picture->Height());
  }
  previewForm_->SetCaption(PreviewCaption(PictureTime));
  previewForm_->DrawPicture(*Picture);
}

}  // namespace lumivor

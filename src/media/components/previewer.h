// The preview window of an encoding task: the pictures the engine encodes, shown in a small window
// of their own that the user can move and close. A closed preview stays closed for the rest of
// the task.
//
// The window itself is the toolkit's: TPreviewerForm is what the previewer needs of it, the gui
// implements it with a real window and HeadlessPreviewerForm stands in where there is no display.
// Every call on a form is made on the main thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "raster/raster.h"
#include "media/engine/ffmpeg.h"

namespace lumivor {

class TPreviewerForm {
 public:
  virtual ~TPreviewerForm() = default;
  // Shows the window, staying on top, centred on the screen, its client area of this size.
  virtual void ShowWithClientSize(int width, int height) = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  // Draws the picture at the client area's top left corner.
  virtual void DrawPicture(const Bitmap& picture) = 0;

  // Set by the previewer; the form calls it when the user asks to close the window, and closes.
  std::function<void()> OnCloseQuery;
};
using PreviewerFormFactory = std::function<std::unique_ptr<TPreviewerForm>()>;

// A window without a display: it keeps what it was asked to show, so that the preview runs, and
// its rules can be checked, anywhere.
class HeadlessPreviewerForm : public TPreviewerForm {
 public:
  void ShowWithClientSize(int width, int height) override;
  void SetCaption(const std::string& caption) override;
  void DrawPicture(const Bitmap& picture) override;
  // What a user's click on the close button does.
  void CloseByUser();

  bool Visible = false;
  int ClientWidth = 0;
  int ClientHeight = 0;
  std::string Caption;
  int PaintCount = 0;
  Bitmap Canvas;  // the client area
};

// "%.2d:%.2d:%.2d.%.3d" of the time plus 5 ms (hours, minutes, seconds, milliseconds), or "N/A"
// for the library's no-timestamp value.
std::string PreviewCaption(std::int64_t pictureTime);

class TPreviewer : public PreviewWindowSink {
 public:
  explicit TPreviewer(PreviewerFormFactory formFactory);
  // Frees the window through the main thread.
  ~TPreviewer() override;
  TPreviewer(const TPreviewer&) = delete;
  TPreviewer& operator=(const TPreviewer&) = delete;

  // Worker thread: keeps the picture and has it painted on the main thread, waiting for the
  // paint. 1 while the window is wanted, 0 once the user has closed it.
  int ShowPicture(Bitmap& picture, std::int32_t pictureNumber, std::int64_t pictureTime) override;

  bool ClosedByUser() const { return closedByUser_.load(); }
  // The window, once the first picture has been painted; main thread only.
  TPreviewerForm* PreviewForm() const { return previewForm_.get(); }

  const Bitmap* Picture = nullptr;  // the last picture handed over, not owned
  std::int32_t PictureNumber = 0;
  std::int64_t PictureTime = 0;

 private:
  void Paint();

  PreviewerFormFactory formFactory_;
  std::unique_ptr<TPreviewerForm> previewForm_;
  std::atomic<bool> closedByUser_{false};
};

}  // namespace lumivor

// One slideshow run from the main window, headless, as a user starts it: the show is set in the
// window's own controls, Start is clicked and the event loop runs until the run's end has reached
// the window. A 10 ms timer ticks all the while; the longest gap between its ticks is how long the
// window could not answer anything. Prints one line:
//   run <seconds> click <ms> gap <ms> ticks <count> end <Finished|...>
// Exit status 0 when the run finished with its video written.
//
// window_bench --size WxH --rate N:D --hold S --transition S --seed N [--no-preview] -o FILE PHOTO...
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>

#include "gui/main_form.h"
#include "gui/main_thread_pump.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Show {
  std::string Size = "1280x960";
  std::string Rate = "30:1";
  std::string Hold = "5";
  std::string Transition = "2";
  std::uint32_t Seed = 1;
  std::string Output;
  bool Preview = true;
  std::vector<std::string> Photos;
};

[[noreturn]] void usage(const char* why) {
  std::fprintf(stderr, "window_bench: %s\nusage: window_bench --size WxH --rate N:D --hold S --transition S "
                       "--seed N [--no-preview] -o FILE PHOTO...\n", why);
  std::exit(2);
}

Show parse(int argc, char** argv) {
  Show show;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) usage(("no value after " + name).c_str());
      return argv[++i];
    };
    if (name == "--size") {
      show.Size = value();
    } else if (name == "--rate") {
      show.Rate = value();
    } else if (name == "--hold") {
      show.Hold = value();
    } else if (name == "--transition") {
      show.Transition = value();
    } else if (name == "--seed") {
      show.Seed = static_cast<std::uint32_t>(std::stoul(value()));
    } else if (name == "--no-preview") {
      show.Preview = false;
    } else if (name == "-o") {
      show.Output = value();
    } else if (name.rfind("-", 0) == 0) {
      usage(("unknown option " + name).c_str());
    } else {
      show.Photos.push_back(name);
    }
  }
  if (show.Output.empty() || show.Photos.empty()) usage("an output file and photos are needed");
  return show;
}

// The combo's item of that text; a combo the user may type into takes any text.
bool choose(QComboBox& combo, const std::string& text) {
  const QString wanted = QString::fromStdString(text);
  const int index = combo.findText(wanted);
  if (index >= 0) {
    combo.setCurrentIndex(index);
    return true;
  }
  if (!combo.isEditable()) return false;
  combo.setEditText(wanted);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::setenv("SDL_AUDIODRIVER", "dummy", 0);
  const Show show = parse(argc, argv);
  QApplication application(argc, argv);
  lumivor::gui::QtMainThreadPump pump;

  lumivor::gui::TfrmMain window;
  // Nothing may wait for a person: every question is answered, and what the run says is printed.
  window.Messages().Answer = [](const lumivor::gui::ShownMessage& message) {
    std::fprintf(stderr, "window_bench: the window said: %s\n", message.Text.c_str());
    return lumivor::MessageResult::Yes;
  };
  window.OpenUrl = [](const std::string&) {};
  window.show();

  // The same encoding `lumivor make --format mp4` does: the first format of the list.
  window.cmbFormat->setCurrentIndex(0);
  if (!choose(*window.cmbVideoSize, show.Size)) usage("the window has no such size");
  if (!choose(*window.cmbFramerate, show.Rate)) usage("the window has no such frame rate");
  window.SetPhotoDelayText(show.Hold);
  window.SetEffectDelayText(show.Transition);
  window.chkRandomEffect->setChecked(true);
  // make keeps the two black frames at the end unless told otherwise; so does this run.
  window.chkPictures->setChecked(false);
  window.RunLogic().RunOptions.Realtime = false;
  window.RunLogic().RunOptions.RandomSeed = show.Seed;
  window.RunLogic().RunOptions.OutputFile = show.Output;
  window.Dialogs().Answer = [&](const std::string&) { return show.Photos; };
  window.btnVideoClick();
  // Without its preview the window's run does what make's does; the difference is the preview's cost.
  if (!show.Preview) window.RunLogic().FFEncoder().PreviewFormFactory = nullptr;

  Clock::duration longestGap{};
  long ticks = 0;
  Clock::time_point lastTick;
  bool measuring = false;
  QTimer timer;
  timer.setInterval(10);
  timer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    const Clock::time_point now = Clock::now();
    if (!measuring) return;
    longestGap = std::max(longestGap, now - lastTick);
    lastTick = now;
    ++ticks;
  });
  timer.start();

  QEventLoop running;
  window.OnRunFinished = [&](const lumivor::JobResult&) { running.quit(); };
  const Clock::time_point begin = Clock::now();
  // The click itself is part of the first gap: a Start that ran the show inside it would show up.
  lastTick = begin;
  measuring = true;
  window.btnStartClick();
  const Clock::duration click = Clock::now() - begin;
  if (window.RunLogic().Running()) running.exec();
  const Clock::time_point end = Clock::now();
  measuring = false;
  timer.stop();
  window.OnRunFinished = nullptr;

  const lumivor::JobResult& run = window.LastRun();
  const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
  const char* endName = run.End == lumivor::JobEnd::Finished  ? "Finished"
                        : run.End == lumivor::JobEnd::Stopped ? "Stopped"
                        : run.End == lumivor::JobEnd::Failed  ? "Failed"
                                                              : "AddedPhotos";
  std::printf("run %.3f click %.1f gap %.1f ticks %ld end %s\n", ms(end - begin) / 1000, ms(click),
              ms(longestGap), ticks, endName);
  if (run.End != lumivor::JobEnd::Finished) {
    std::fprintf(stderr, "window_bench: the run did not finish: %s\n", run.ErrorText.c_str());
    return 1;
  }
  return 0;
}

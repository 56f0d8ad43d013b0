// Studio with a large show, headless: 500 photos of 4000x3000 (JPEG, made once into a cache folder)
// added to the storyboard of a 1100x700 window, then the same show saved and opened in a new
// window. A 10 ms timer ticks throughout; the longest gap between ticks is the longest time the
// window could not answer. Prints one "name value" line per figure:
//   places_ms        Add Photos until every photo has its place in the storyboard
//   first_screen_ms  until every thumbnail in view is drawn              (goal 2000)
//   all_ms           until every thumbnail is drawn                       (goal 30000)
//   thumbnails_mb    the thumbnails' pixels held
//   peak_growth_mb   the process's peak resident memory, less what it was before the add (goal 200)
//   stall_ms         the longest tick gap while loading                   (goal 100)
//   open_ms          Open of the saved project until its first screen is laid out (goal 1000)
//   open_thumbs_ms   ... and until the thumbnails in view are drawn
//
// studio_bench [--photos N] [--cache FOLDER]
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <QApplication>
#include <QTimer>

#include "app/samples/sample_media.h"
#include "app/samples/sample_pictures.h"
#include "studio/main_thread_pump.h"
#include "studio/storyboard_view.h"
#include "studio/studio_window.h"

namespace {

using Clock = std::chrono::steady_clock;
using lumivor::studio::StoryboardModel;
using lumivor::studio::StudioWindow;
using lumivor::studio::Thumbnail;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// VmHWM or VmRSS of this process, in KiB.
long status_kib(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  }
  return 0;
}

// Resets the peak so that it counts from now.
void reset_peak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

// Four pictures encoded once; the rest are links to them under names of their own, since the
// storyboard knows a photo by its path.
std::vector<std::string> make_photos(const std::string& folder, int count) {
  std::filesystem::create_directories(folder);
  std::vector<std::string> sources;
  for (int variant = 0; variant < 4; ++variant) {
    const std::string path = folder + "/source" + std::to_string(variant) + ".jpg";
    sources.push_back(path);
    if (std::filesystem::exists(path)) continue;
    const auto which = variant % 2 == 0 ? lumivor::SamplePicture::Landscape : lumivor::SamplePicture::Pattern;
    const lumivor::Bitmap picture = lumivor::MakeSamplePicture(which, 4000 - variant * 16, 3000 - variant * 12);
    std::vector<std::uint8_t> bytes;
    std::string errorText;
    if (!lumivor::EncodeJpegFile(picture, 88, bytes, errorText)) {
      std::fprintf(stderr, "studio_bench: %s\n", errorText.c_str());
      std::exit(1);
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::vector<std::string> photos;
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/photo%04d.jpg", i);
    const std::string path = folder + name;
    if (!std::filesystem::exists(path)) {
      std::error_code error;
      std::filesystem::create_hard_link(sources[static_cast<std::size_t>(i % 4)], path, error);
      if (error) std::filesystem::copy_file(sources[static_cast<std::size_t>(i % 4)], path);
    }
    photos.push_back(path);
  }
  return photos;
}

// Rows the storyboard shows in its viewport now.
std::vector<int> rows_in_view(StudioWindow& window) {
  std::vector<int> rows;
  QListView& view = *window.storyboard;
  const QRect area = view.viewport()->rect();
  for (int row = 0; row < window.Storyboard().rowCount(); ++row) {
    if (view.visualRect(window.Storyboard().index(row)).intersects(area)) rows.push_back(row);
  }
  return rows;
}

bool thumbnails_ready(StudioWindow& window, const std::vector<int>& rows) {
  StoryboardModel& model = window.Storyboard();
  for (const int row : rows) {
    if (model.data(model.index(row), StoryboardModel::StateRole).toInt() == static_cast<int>(Thumbnail::State::Loading)) {
      return false;
    }
  }
  return true;
}

struct Ticker {
  Clock::time_point last = Clock::now();
  double longest = 0;
  QTimer timer;
  Ticker() {
    timer.setInterval(10);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [this] {
      const auto now = Clock::now();
      longest = std::max(longest, ms(now - last));
      last = now;
    });
    timer.start();
  }
  void Restart() {
    last = Clock::now();
    longest = 0;
  }
};

template <class Done>
bool run_until(Done done, double limitMs) {
  const auto start = Clock::now();
  while (!done()) {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    if (ms(Clock::now() - start) > limitMs) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int count = 500;
  std::string cache;
  if (const char* home = ::getenv("XDG_CACHE_HOME")) cache = std::string(home) + "/lumivor-bench/studio";
  else cache = std::string(::getenv("HOME") ? ::getenv("HOME") : "/tmp") + "/.cache/lumivor-bench/studio";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--photos") count = std::atoi(argv[i + 1]);
    else if (name == "--cache") cache = argv[i + 1];
  }
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const std::vector<std::string> photos = make_photos(cache, count);

  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Lumivor Studio Bench"));
  lumivor::studio::StudioMainThreadPump pump;
  Ticker ticker;

  auto window = std::make_unique<StudioWindow>();
  window->AskToSave = [](const QString&) { return QMessageBox::Discard; };
  window->Warn = [](const QString&, const QString& text) { std::fprintf(stderr, "warning: %s\n", qPrintable(text)); };
  window->show();
  run_until([] { return false; }, 200);

  const long rssBefore = status_kib("VmRSS:");
  reset_peak();
  ticker.Restart();
  const auto start = Clock::now();
  window->AddPhotos(photos);
  QApplication::processEvents();
  const auto placed = Clock::now();
  const bool firstOk = run_until([&] { return thumbnails_ready(*window, rows_in_view(*window)); }, 60000);
  const auto firstScreen = Clock::now();
  const bool allOk = run_until([&] { return thumbnails_ready(*window, [&] {
                                  std::vector<int> all(static_cast<std::size_t>(count));
                                  for (int i = 0; i < count; ++i) all[static_cast<std::size_t>(i)] = i;
                                  return all;
                                }()); }, 300000);
  const auto all = Clock::now();
  const double stall = ticker.longest;
  const long peak = status_kib("VmHWM:");
  // The thumbnails' own pixels: at most the icon size, 4 bytes a pixel.
  const double thumbnailBytes = static_cast<double>(count) * window->storyboard->iconSize().width() *
                                window->storyboard->iconSize().height() * 4;

  const std::string project = cache + "/bench.lumivor";
  if (!window->SaveAs(QString::fromStdString(project))) return 1;
  window.reset();

  auto opened = std::make_unique<StudioWindow>();
  opened->Warn = [](const QString&, const QString& text) { std::fprintf(stderr, "warning: %s\n", qPrintable(text)); };
  opened->show();
  run_until([] { return false; }, 200);
  ticker.Restart();
  const auto openStart = Clock::now();
  if (!opened->OpenProject(QString::fromStdString(project))) return 1;
  QApplication::processEvents();
  const bool laidOut = run_until([&] { return !rows_in_view(*opened).empty(); }, 10000);
  const auto openShown = Clock::now();
  const bool openThumbs = run_until([&] { return thumbnails_ready(*opened, rows_in_view(*opened)); }, 60000);
  const auto openDone = Clock::now();

  std::printf("photos %d\n", count);
  std::printf("places_ms %.1f\n", ms(placed - start));
  std::printf("first_screen_ms %.1f%s\n", ms(firstScreen - start), firstOk ? "" : " (timed out)");
  std::printf("all_ms %.1f%s\n", ms(all - start), allOk ? "" : " (timed out)");
  std::printf("thumbnails_mb %.1f\n", thumbnailBytes / (1024.0 * 1024.0));
  std::printf("peak_growth_mb %.1f\n", static_cast<double>(peak - rssBefore) / 1024.0);
  std::printf("stall_ms %.1f\n", stall);
  std::printf("open_ms %.1f%s\n", ms(openShown - openStart), laidOut ? "" : " (timed out)");
  std::printf("open_thumbs_ms %.1f%s\n", ms(openDone - openStart), openThumbs ? "" : " (timed out)");
  std::printf("open_stall_ms %.1f\n", ticker.longest);
  return firstOk && allOk && laidOut && openThumbs ? 0 : 1;
}

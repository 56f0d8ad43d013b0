#include "app/show/frame_sequencer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "raster/arith.h"
#include "effects/effect.h"
#include "effects/random.h"

namespace lumivor {

namespace {

std::string_view trim_blanks(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<int> parse_whole_number(std::string_view text) {
  text = trim_blanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// A plain decimal number: from_chars alone would also take "inf", "nan" and exponents without a
// mantissa sign check, and a delay has to be a finite number of seconds.
std::optional<double> parse_decimal(std::string_view text) {
  text = trim_blanks(text);
  std::string_view digits = text;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
  if (digits.empty() || !(std::isdigit(static_cast<unsigned char>(digits.front())) || digits.front() == '.'))
    return std::nullopt;
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

// Spreads a clock reading or a user's seed over all 32 bits, so that nearby inputs give unrelated
// seeds and either parity turns up.
std::uint32_t mix_bits(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return static_cast<std::uint32_t>(x ^ (x >> 31));
}

std::uint64_t clock_reading() {
  return static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) ^
         static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

// An empty frame (a "0x0" size) has no pixel memory at all: nothing to fill or copy.
void fill_black(Bitmap& picture) {
  if (picture.ImageSize() > 0) std::memset(picture.Bits(), 0, picture.ImageSize());
}

void bgra_row_to_bgr_plain(const std::uint8_t* source, std::uint8_t* dest, int width) {
  for (int x = 0; x < width; ++x, source += 4, dest += 3) {
    dest[0] = source[0];
    dest[1] = source[1];
    dest[2] = source[2];
  }
}

#if defined(__x86_64__) || defined(__i386__)
// One byte shuffle turns four 32-bit pixels into four 24-bit ones, several times faster than byte
// moves. Each store writes 16 bytes of which 12 are pixels; the loop stops two pixels short of the
// row's end so that the 4 extra bytes always land on pixels the next round writes again.
__attribute__((target("ssse3"))) void bgra_row_to_bgr_ssse3(const std::uint8_t* source, std::uint8_t* dest,
                                                            int width) {
  const __m128i keepColours = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  int x = 0;
  for (; x + 6 <= width; x += 4, source += 16, dest += 12) {
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dest), _mm_shuffle_epi8(pixels, keepColours));
  }
  bgra_row_to_bgr_plain(source, dest, width - x);
}
#endif

using RowConversion = void (*)(const std::uint8_t*, std::uint8_t*, int);

RowConversion choose_bgra_row_to_bgr() {
#if defined(__x86_64__) || defined(__i386__)
  if (__builtin_cpu_supports("ssse3")) return bgra_row_to_bgr_ssse3;
#endif
  return bgra_row_to_bgr_plain;
}

// Every held frame goes through this conversion, so it is the sequencer's cost per frame.
void bgra_row_to_bgr(const std::uint8_t* source, std::uint8_t* dest, int width) {
  static const RowConversion convert = choose_bgra_row_to_bgr();
  convert(source, dest, width);
}

// The frame goes to the canvas at (0, 0); a canvas of another size gets the part both cover.
void copy_frame_to_canvas(const Bitmap& frame, Bitmap& canvas) {
  const int width = std::min(frame.Width(), canvas.Width());
  const int height = std::min(frame.Height(), canvas.Height());
  if (width <= 0 || height <= 0) return;
  if (canvas.BitsPerPixel() == 24) {
    for (int y = 0; y < height; ++y) bgra_row_to_bgr(frame.ScanLine(y), canvas.ScanLine(y), width);
  } else {
    for (int y = 0; y < height; ++y) std::memcpy(canvas.ScanLine(y), frame.ScanLine(y), std::size_t{4} * width);
  }
}

// Whether composing with an effect moves the shared generator on. Most effects draw from a seeded
// generator of their own or from none; the few that draw from the shared one change what every
// later frame of theirs and every later random effect choice sees, so a seek has to make their
// draws too. Found out once per effect from a few probe frames: the number of draws follows the
// frame's size and the progress, never the pictures' pixels.
bool draws_from_shared_generator(int effect) {
  if (effect < 1 || effect > EffectCount) return false;
  // 0: not yet known, 1: draws, 2: does not.
  static std::array<std::atomic<int>, EffectCount> known{};
  std::atomic<int>& answer = known[static_cast<std::size_t>(effect - 1)];
  if (const int seen = answer.load(std::memory_order_relaxed); seen != 0) return seen == 1;
  // Large enough that every effect's pattern has room for its pieces.
  constexpr int ProbeWidth = 320, ProbeHeight = 240;
  const Bitmap from(ProbeWidth, ProbeHeight, 32), to(ProbeWidth, ProbeHeight, 32);
  Bitmap mix;
  bool draws = false;
  {
    const SeededRandom probe(0x1234567u);
    for (const int progress : {5, 33, 50, 67, 95}) {
      const std::uint32_t before = RandomSeed;
      ComposeTransitionFrame(mix, from, to, effect, progress);
      if (RandomSeed != before) draws = true;
    }
  }
  answer.store(draws ? 1 : 2, std::memory_order_relaxed);
  return draws;
}

}  // namespace

FrameRateParts ParseFrameRateText(const std::string& text) {
  const std::string_view all = text;
  const std::size_t colon = all.find(':');
  const std::string_view numerator = all.substr(0, colon);
  const std::string_view denominator = colon == std::string_view::npos ? std::string_view() : all.substr(colon + 1);
  return {parse_whole_number(numerator).value_or(30), parse_whole_number(denominator).value_or(1)};
}

double ParseDelayText(const std::string& text) { return parse_decimal(text).value_or(2.0); }

int CountFrames(const FrameRateParts& rate, double delaySeconds) {
  const long double frames = static_cast<long double>(rate.Numerator) * delaySeconds / rate.Denominator;
  // A zero denominator gives no real number of frames; it ends at the minimum like any other rate
  // that yields less than one frame.
  if (!std::isfinite(frames)) return 1;
  return std::max(1, Round(frames));
}

Rect FitRect(int pictureWidth, int pictureHeight, int frameWidth, int frameHeight) {
  if (pictureWidth <= 0 || pictureHeight <= 0 || frameWidth <= 0 || frameHeight <= 0)
    return {0, 0, std::max(frameWidth, 0), std::max(frameHeight, 0)};
  const double a = static_cast<double>(pictureWidth) / frameWidth;
  const double b = static_cast<double>(pictureHeight) / frameHeight;
  if (a >= b) {
    const int c = Round((frameHeight - pictureHeight / a) / 2);
    return {0, c, frameWidth, frameHeight - c};
  }
  const int c = Round((frameWidth - pictureWidth / b) / 2);
  return {c, 0, frameWidth - c, frameHeight};
}

FrameSequencer::RandomScope::RandomScope(std::uint32_t& state) : state_(state) { RandomSeed = state_; }

FrameSequencer::RandomScope::~RandomScope() { state_ = RandomSeed; }

void FrameSequencer::ResetRun(int frameWidth, int frameHeight, int holdFrames, int transitionFrames,
                              bool randomEffects, std::optional<std::uint32_t> randomSeed,
                              std::vector<int> effectOrder) {
  // No timing of each photo's own: every photo takes the show's, however the list changes.
  ResetRun(frameWidth, frameHeight, ShowTiming{}, {}, randomEffects, randomSeed, std::move(effectOrder));
  holdFrames_ = std::max(holdFrames, 1);
  transitionFrames_ = std::max(transitionFrames, 1);
}

void FrameSequencer::ResetRun(int frameWidth, int frameHeight, ShowTiming timing, std::vector<PhotoChoices> perPhoto,
                              bool randomEffects, std::optional<std::uint32_t> randomSeed,
                              std::vector<int> effectOrder) {
  const RandomScope random(random_);
  const auto check_effect = [](int effect) {
    if (effect < 1 || effect > EffectCount)
      throw std::invalid_argument("effect number " + std::to_string(effect) + " is not between 1 and " +
                                  std::to_string(EffectCount));
  };
  for (int effect : effectOrder) check_effect(effect);
  for (const PhotoChoices& own : perPhoto)
    if (own.TransitionEffect) check_effect(*own.TransitionEffect);

  frameWidth_ = std::max(frameWidth, 0);
  frameHeight_ = std::max(frameHeight, 0);
  for (int& hold : timing.HoldFrames) hold = std::max(hold, 1);
  for (int& transition : timing.TransitionFrames) transition = std::max(transition, 1);
  holdFrames_ = timing.HoldFrames.empty() ? 1 : timing.HoldFrames.back();
  transitionFrames_ = timing.TransitionFrames.empty() ? 1 : timing.TransitionFrames.front();
  timing_ = std::move(timing);
  perPhoto_ = std::move(perPhoto);
  randomEffects_ = randomEffects;
  effectOrder_ = std::move(effectOrder);
  effectOrderPosition_ = 0;

  for (Bitmap* picture : {&fromBitmap_, &toBitmap_, &mixBitmap_}) {
    std::scoped_lock lock(picture->Lock());
    picture->Resize(frameWidth_, frameHeight_, 32);
    fill_black(*picture);
  }
  // The seeded transitions start from the new picture's SourceSeed; one value per run keeps their
  // choices steady through each transition, and deriving it from the given seed makes a seeded
  // run repeat picture for picture.
  const std::uint64_t runIdentity = randomSeed ? *randomSeed : clock_reading();
  toBitmap_.SetSourceSeed(mix_bits(runIdentity ^ 0x5EC0DE5EEDull));
  // The moves come from the same run identity, so a seed repeats them too.
  motionSeed_ = mix_bits(runIdentity ^ 0x3A7E5EEDull);
  moving_ = Motion != MotionKind::None;
  fromMover_.Clear();
  toMover_.Clear();
  fromMoving_ = false;
  toMoving_ = false;
  fromMoverFrame_ = 0;
  toMoverFrame_ = 0;

  photoIndex_ = -1;
  inTransition_ = true;
  transitionCounter_ = 0;
  holdCounter_ = 0;
  lastProgress_ = -1;
  tailFrames_ = 0;

  // A photo decoded ahead for the last run is not this run's.
  ahead_.reset();
  photosDecodedAhead_ = 0;
  Captions.Reset(frameWidth_, frameHeight_);

  if (randomSeed) RandomSeed = *randomSeed;
  if (!effectOrder_.empty()) {
    effectNumber_ = effectOrder_.front();
  } else if (randomEffects_) {
    if (!randomSeed) RandomSeed = mix_bits(clock_reading());
    effectNumber_ = static_cast<int>(RandomInt(EffectCount)) + 1;
  }
  if (effectNumber_ < 1 || effectNumber_ > EffectCount) effectNumber_ = 1;
  // The opening transition follows no photo: always the rule's.
  shownEffect_ = effectNumber_;
  runStartRandom_ = RandomSeed;
  runStartEffect_ = effectNumber_;
}

int FrameSequencer::PhotoHoldFrames(int index) const {
  if (index >= 0 && static_cast<std::size_t>(index) < timing_.HoldFrames.size())
    return timing_.HoldFrames[static_cast<std::size_t>(index)];
  return holdFrames_;
}

int FrameSequencer::TransitionLength(int k) const {
  if (k >= 0 && static_cast<std::size_t>(k) < timing_.TransitionFrames.size())
    return timing_.TransitionFrames[static_cast<std::size_t>(k)];
  return transitionFrames_;
}

ShowTiming FrameSequencer::Timing() const {
  const int count = photo_count();
  ShowTiming timing;
  timing.HoldFrames.reserve(static_cast<std::size_t>(count));
  timing.TransitionFrames.reserve(static_cast<std::size_t>(count) + 1);
  for (int i = 0; i < count; ++i) timing.HoldFrames.push_back(PhotoHoldFrames(i));
  for (int k = 0; k <= count; ++k) timing.TransitionFrames.push_back(TransitionLength(k));
  return timing;
}

void FrameSequencer::ReadHeader() {
  if (Log != nullptr) Log->AddLine("FrameInput read header");
}

void FrameSequencer::ReadClose() {
  if (Log != nullptr) Log->AddLine("FrameInput read close");
}

const std::vector<std::string>& FrameSequencer::photo_list() const {
  static const std::vector<std::string> none;
  return Photos ? Photos() : none;
}

int FrameSequencer::photo_count() const {
  return static_cast<int>(std::min<std::size_t>(photo_list().size(), static_cast<std::size_t>(INT32_MAX)));
}

ScreenMode FrameSequencer::photo_screen(int index) const {
  if (index >= 0 && static_cast<std::size_t>(index) < perPhoto_.size())
    return perPhoto_[static_cast<std::size_t>(index)].Screen.value_or(Screen);
  return Screen;
}

bool FrameSequencer::photo_moves(int index) const {
  if (index >= 0 && static_cast<std::size_t>(index) < perPhoto_.size()) {
    if (const std::optional<MotionKind> own = perPhoto_[static_cast<std::size_t>(index)].Motion)
      return *own != MotionKind::None;
  }
  return moving_;
}

int FrameSequencer::transition_effect(int k, int ruleEffect) const {
  const int before = k - 1;
  if (before >= 0 && static_cast<std::size_t>(before) < perPhoto_.size())
    return perPhoto_[static_cast<std::size_t>(before)].TransitionEffect.value_or(ruleEffect);
  return ruleEffect;
}

// A photo moves from the first frame of the transition that brings it in to the last frame of the
// one that takes it away.
MotionPath FrameSequencer::motion_path(int index) const {
  if (!photo_moves(index)) return MotionPath{};
  MotionKind kind = Motion;
  int strength = MotionStrength;
  if (index >= 0 && static_cast<std::size_t>(index) < perPhoto_.size()) {
    const PhotoChoices& own = perPhoto_[static_cast<std::size_t>(index)];
    kind = own.Motion.value_or(kind);
    if (own.MotionStrength) strength = std::clamp(*own.MotionStrength, 0, MaxMotionStrength);
  }
  const int hold = PhotoHoldFrames(index);
  const int framesOnScreen = TransitionLength(index) + hold + TransitionLength(index + 1);
  const std::uint32_t seed = mix_bits((std::uint64_t{motionSeed_} << 32) | static_cast<std::uint32_t>(index));
  return ChooseMotionPath(kind, strength, framesOnScreen, hold, seed);
}

FrameSequencer::PhotoRequest FrameSequencer::photo_request(int index, const std::string& path,
                                                           const MotionPath& motion) const {
  // The photo is decoded no larger than the layout draws it (a moving one at its largest zoom), so
  // a photo of many times the frame's size costs the memory of the frame, not of the photo.
  const double zoom = std::max(motion.LargestZoom(), 1.0);
  const PictureSizeHint hint{static_cast<int>(std::ceil(frameWidth_ * zoom)),
                             static_cast<int>(std::ceil(frameHeight_ * zoom)),
                             photo_screen(index) == ScreenMode::Fill ? SizeRule::Cover : SizeRule::Inside};
  return {path, AutoRotate ? PictureTurn::Upright : PictureTurn::AsStored, hint};
}

Bitmap FrameSequencer::take_photo(const PhotoRequest& request) {
  std::optional<PhotoAhead> ahead = std::exchange(ahead_, std::nullopt);
  // A list or a setting changed since the decoding began gives another request: that picture is
  // not the one asked for, and is dropped (its future waits for the thread to finish).
  if (ahead && ahead->Request == request) {
    ++photosDecodedAhead_;
    // A photo that failed to decode fails here, at the frame that needs it, with its own text.
    return ahead->Picture.get();
  }
  ahead.reset();
  return LoadPhotoFile(request.Path, request.Turn, request.Hint);
}

void FrameSequencer::decode_ahead(int index) {
  const std::vector<std::string>& photos = photo_list();
  const int next = index + 1;
  if (next < 0 || static_cast<std::size_t>(next) >= photos.size()) return;
  PhotoRequest request = photo_request(next, photos[static_cast<std::size_t>(next)], motion_path(next));
  // The decoding reads only its own copy of the request: the sequencer may change meanwhile.
  std::future<Bitmap> picture = std::async(std::launch::async, [request] {
    return LoadPhotoFile(request.Path, request.Turn, request.Hint);
  });
  ahead_ = PhotoAhead{std::move(request), std::move(picture)};
}

void FrameSequencer::LoadPhoto(int index) {
  const std::vector<std::string>& photos = photo_list();
  if (index < 0 || static_cast<std::size_t>(index) >= photos.size())
    throw PhotoLoadError("There is no photo number " + std::to_string(index + 1) + " in a list of " +
                         std::to_string(photos.size()));
  const int framesOnScreen = TransitionLength(index) + PhotoHoldFrames(index) + TransitionLength(index + 1);
  const MotionPath path = motion_path(index);
  photoBitmap_ = take_photo(photo_request(index, photos[static_cast<std::size_t>(index)], path));
  // The next photo is decoded on another core while this one is held and the frames are encoded.
  decode_ahead(index);
  // Its caption is made with it, and the next one's beside the next photo's decoding.
  Captions.Prepare(index, index + 1 < photo_count() ? index + 1 : -1);
  std::scoped_lock lock(toBitmap_.Lock());
  toMoving_ = photo_moves(index);
  if (!toMoving_) {
    toMover_.Clear();
    LayOutPhoto(toBitmap_, photoBitmap_, photo_screen(index), Scaler);
    return;
  }
  toMover_.Prepare(photoBitmap_, photo_screen(index), path, frameWidth_, frameHeight_, framesOnScreen);
  toMoverFrame_ = 0;  // drawn with the frame that asked for the photo
}

void FrameSequencer::BringInFirstTransition() {
  {
    std::scoped_lock lock(fromBitmap_.Lock());
    fill_black(fromBitmap_);
  }
  fromMover_.Clear();
  fromMoving_ = false;
  LoadPhoto(photoIndex_ + 1);
  inTransition_ = true;
}

void FrameSequencer::BringInTransition(int count) {
  {
    std::scoped_lock lock(fromBitmap_.Lock(), toBitmap_.Lock());
    if (toBitmap_.ImageSize() > 0) std::memcpy(fromBitmap_.Bits(), toBitmap_.Bits(), toBitmap_.ImageSize());
  }
  StartMovingTransition();
  if (photoIndex_ < count - 1) {
    LoadPhoto(photoIndex_ + 1);
  } else {
    std::scoped_lock lock(toBitmap_.Lock());
    fill_black(toBitmap_);
  }
}

// The outgoing photo keeps its move; the mover that held it becomes the From side.
void FrameSequencer::StartMovingTransition() {
  std::swap(fromMover_, toMover_);
  fromMoverFrame_ = toMoverFrame_;
  fromMoving_ = toMoving_;
  toMover_.Clear();
  toMoverFrame_ = 0;
  toMoving_ = false;
}

void FrameSequencer::DrawMovingPictures() {
  if (inTransition_ && !fromMover_.IsEmpty()) {
    std::scoped_lock lock(fromBitmap_.Lock());
    fromMover_.DrawFrame(fromBitmap_, fromMoverFrame_++);
  }
  if (!toMover_.IsEmpty()) {
    std::scoped_lock lock(toBitmap_.Lock());
    toMover_.DrawFrame(toBitmap_, toMoverFrame_++);
  }
}

void FrameSequencer::ComposeTransition(int progress) {
  if (mixBitmap_.IsEmpty()) return;
  std::scoped_lock lock(toBitmap_.Lock(), mixBitmap_.Lock(), fromBitmap_.Lock());
  ComposeTransitionFrame(mixBitmap_, fromBitmap_, toBitmap_, shownEffect_, progress);
}

void FrameSequencer::next_effect() {
  if (!effectOrder_.empty()) {
    effectOrderPosition_ = (effectOrderPosition_ + 1) % effectOrder_.size();
    effectNumber_ = effectOrder_[effectOrderPosition_];
  } else if (randomEffects_) {
    effectNumber_ = static_cast<int>(RandomInt(EffectCount)) + 1;
  } else {
    effectNumber_ = effectNumber_ % EffectCount + 1;
  }
  // Called as transition photoIndex_ ends: the next one follows photo photoIndex_.
  shownEffect_ = transition_effect(photoIndex_ + 1, effectNumber_);
}

int FrameSequencer::ReadFrameCanvas(Bitmap& canvas) {
  // Refused before anything moves on, so that a wrong canvas costs no frame of the stream.
  if (canvas.BitsPerPixel() != 24 && canvas.BitsPerPixel() != 32)
    throw std::invalid_argument("the frame canvas must have 24 or 32 bits per pixel");
  const RandomScope random(random_);

  // Bring in the pictures the next frame needs.
  bool inTail = false;
  if (photoIndex_ < 0) {
    if (transitionCounter_ == 0) BringInFirstTransition();
  } else if (const int count = photo_count(); photoIndex_ < count) {
    if (inTransition_ && transitionCounter_ == 0) BringInTransition(count);
  } else {
    // Stopping the encoder here would drop the pictures its look-ahead holds and the sound that
    // goes with them; the end of the stream lets it finish them.
    if (BreakWhenNoPictures && BreakWhenNoPictures()) return -1;
    inTransition_ = false;
    inTail = true;
    if (tailFrames_ > 1) return -1;
    if (tailFrames_ == 1) {
      std::scoped_lock lock(toBitmap_.Lock());
      fill_black(toBitmap_);
    }
    ++tailFrames_;
  }

  const bool moveThisFrame = !inTail && ((inTransition_ && fromMoving_) || toMoving_);
  if (moveThisFrame) DrawMovingPictures();

  // What the frame shows, for its captions: the state moves on below before they are drawn.
  const int shownPhoto = photoIndex_;
  const bool shownTransition = inTransition_;

  // Choose the frame.
  const Bitmap* frame = &toBitmap_;
  bool transitionEnds = false;
  if (inTransition_) {
    frame = &mixBitmap_;
    const int transitionFrames = TransitionLength(photoIndex_ + 1);
    if (transitionCounter_ == 0) transitionStartRandom_ = RandomSeed;
    // In 64 bits: a transition of tens of millions of frames must not overflow the product.
    const int progress = static_cast<int>(std::int64_t{transitionCounter_} * 100 / transitionFrames);
    // Moving pictures change every frame, so their mix does too.
    if (progress != lastProgress_ || moveThisFrame) {
      lastProgress_ = progress;
      ComposeTransition(progress);
    }
    transitionEnds = ++transitionCounter_ >= transitionFrames;
  } else if (++holdCounter_ >= PhotoHoldFrames(photoIndex_)) {
    holdCounter_ = 0;
    inTransition_ = true;
  }

  {
    std::scoped_lock lock(frame->Lock(), canvas.Lock());
    copy_frame_to_canvas(*frame, canvas);
  }
  // On the canvas, not the frame: the mix picture is served again while the progress stands still.
  if (Captions.Active() && !inTail) draw_captions(canvas, shownPhoto, shownTransition);
  if (transitionEnds) EndTransition();
  return 0;
}

void FrameSequencer::draw_captions(Bitmap& canvas, int photo, bool transition) {
  if (!transition) {
    Captions.Draw(canvas, photo, 255);
    return;
  }
  // In step with the effect: the progress its frame was composed at.
  const int incoming = (lastProgress_ * 255 + 50) / 100;
  if (photo >= 0) Captions.Draw(canvas, photo, 255 - incoming);
  if (photo + 1 < photo_count()) Captions.Draw(canvas, photo + 1, incoming);
}

void FrameSequencer::EndTransition() {
  const int k = photoIndex_ + 1;
  // A photo's chosen effect draws from the shared generator as it likes; what follows must see the
  // generator as the show's own effect would have left it, or choosing one transition would change
  // the random choices and patterns of all the later ones. Composed after the frame was served,
  // since it reuses the mix picture.
  if (shownEffect_ != effectNumber_) {
    RandomSeed = transitionStartRandom_;
    replay_shared_draws(k, TransitionLength(k), effectNumber_);
  }
  ++photoIndex_;
  next_effect();
  transitionCounter_ = 0;
  lastProgress_ = -1;
  inTransition_ = false;
}

// ------------------------------------------------------------------ seeking

void FrameSequencer::SeekFrame(std::int64_t frame) {
  const RandomScope random(random_);
  frame = std::max<std::int64_t>(frame, 0);
  // Counted from the run's start: the effect rule and the shared generator as ResetRun left them.
  RandomSeed = runStartRandom_;
  effectNumber_ = runStartEffect_;
  effectOrderPosition_ = 0;
  shownEffect_ = effectNumber_;
  tailFrames_ = 0;

  const int count = photo_count();
  std::int64_t start = 0;
  for (int k = 0; k <= count; ++k) {
    const int transition = TransitionLength(k);
    if (frame < start + transition) {
      seek_into_transition(k, static_cast<int>(frame - start));
      return;
    }
    // Whatever effect the transition showed, it left the generator as the show's effect would.
    replay_shared_draws(k, transition, effectNumber_);
    start += transition;
    // The transition's end, as reading its last frame makes it.
    photoIndex_ = k;
    next_effect();
    if (k == count) break;
    const int hold = PhotoHoldFrames(k);
    if (frame < start + hold) {
      seek_into_hold(k, static_cast<int>(frame - start));
      return;
    }
    start += hold;
  }
  seek_into_tail(frame - start);
}

void FrameSequencer::replay_shared_draws(int k, int frames, int effect) {
  if (!draws_from_shared_generator(effect) || mixBitmap_.IsEmpty()) return;
  const int transition = TransitionLength(k);
  const bool moving = (k >= 1 && photo_moves(k - 1)) || (k < photo_count() && photo_moves(k));
  // The draws depend on the effect, the frame's size and the progress only, so the pictures
  // composed here need not be the photos.
  std::scoped_lock lock(toBitmap_.Lock(), mixBitmap_.Lock(), fromBitmap_.Lock());
  int lastProgress = -1;
  for (int counter = 0; counter < frames; ++counter) {
    const int progress = static_cast<int>(std::int64_t{counter} * 100 / transition);
    if (progress == lastProgress && !moving) continue;
    lastProgress = progress;
    // The ends copy a whole picture without drawing.
    if (progress <= 0 || progress >= 100) continue;
    ComposeTransitionFrame(mixBitmap_, fromBitmap_, toBitmap_, effect, progress);
  }
}

void FrameSequencer::seek_into_transition(int k, int offset) {
  photoIndex_ = k - 1;
  inTransition_ = true;
  transitionCounter_ = 0;
  holdCounter_ = 0;
  lastProgress_ = -1;
  fromMover_.Clear();
  fromMoving_ = false;
  fromMoverFrame_ = 0;
  toMover_.Clear();
  toMoving_ = false;
  toMoverFrame_ = 0;
  // The outgoing photo as the end of its hold left it.
  if (k >= 1) {
    LoadPhoto(k - 1);
    toMoverFrame_ = TransitionLength(k - 1) + PhotoHoldFrames(k - 1);
  }
  const int transition = TransitionLength(k);
  // Without motion a transition composes only where its progress changes; the frame shown is the
  // one composed at the first frame of the same progress, with the generator as it was there.
  const bool moving = (k >= 1 && photo_moves(k - 1)) || (k < photo_count() && photo_moves(k));
  int composedAt = offset;
  if (!moving) {
    const int progress = static_cast<int>(std::int64_t{offset} * 100 / transition);
    while (composedAt > 0 && static_cast<int>(std::int64_t{composedAt - 1} * 100 / transition) == progress)
      --composedAt;
  }
  transitionStartRandom_ = RandomSeed;
  replay_shared_draws(k, composedAt, shownEffect_);
  // At the first frame the read brings the pictures in itself.
  if (offset == 0) return;
  if (k == 0) {
    BringInFirstTransition();
  } else {
    BringInTransition(photo_count());
  }
  transitionCounter_ = offset;
  if (fromMoving_) fromMoverFrame_ += offset;
  if (toMoving_) toMoverFrame_ = offset;
}

void FrameSequencer::seek_into_hold(int index, int offset) {
  photoIndex_ = index;
  inTransition_ = false;
  transitionCounter_ = 0;
  holdCounter_ = offset;
  lastProgress_ = -1;
  fromMover_.Clear();
  fromMoving_ = false;
  fromMoverFrame_ = 0;
  LoadPhoto(index);
  toMoverFrame_ = TransitionLength(index) + offset;
}

void FrameSequencer::seek_into_tail(std::int64_t offset) {
  photoIndex_ = photo_count();
  inTransition_ = false;
  transitionCounter_ = 0;
  holdCounter_ = 0;
  lastProgress_ = -1;
  tailFrames_ = static_cast<int>(std::min<std::int64_t>(offset, 2));
  fromMover_.Clear();
  toMover_.Clear();
  fromMoving_ = false;
  toMoving_ = false;
  std::scoped_lock lock(toBitmap_.Lock());
  fill_black(toBitmap_);
}

}  // namespace lumivor

// The slideshow's frames, one per request of the frame input: an opening transition from black,
// each photo fitted on black and held, a transition between photos, a closing transition to black,
// two black frames, then the end of the stream. A sequencer is used by one thread at a time (the
// engine's reading worker during a run); only the decoding of the next photo goes on beside it.
#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "app/show/caption_art.h"
#include "app/show/photo_layout.h"
#include "app/photos/photo_loader.h"
#include "app/show/photo_choices.h"
#include "app/show/photo_motion.h"
#include "app/show/show_timing.h"
#include "app/common/window_services.h"
#include "raster/raster.h"

namespace lumivor {

struct FrameRateParts {
  int Numerator = 30;
  int Denominator = 1;
};

// "30:1" -> {30, 1}. The part before the first colon is the numerator and the part after it the
// denominator; a part that is not a whole number gives 30 and 1. A text without a colon is all
// numerator ("25" -> {25, 1}), as the engine reads the same text given to "-r".
FrameRateParts ParseFrameRateText(const std::string& text);

// A delay box's seconds ("2.5"); 2.0 when the text is not a finite decimal number.
double ParseDelayText(const std::string& text);

// Frames for a delay at a frame rate: numerator * delay / denominator rounded half to even in
// extended precision, at least 1 (also when the rate or the delay makes no sense).
int CountFrames(const FrameRateParts& rate, double delaySeconds);

// Where a picture goes in the frame: scaled to fill the frame's width or height, whichever it
// reaches first, and centred with equal black margins on the other axis.
Rect FitRect(int pictureWidth, int pictureHeight, int frameWidth, int frameHeight);

class FrameSequencer {
 public:
  // The photo list (full paths, in order) and the "Break when no pictures" check box are the
  // window's; the sequencer reads them while the stream runs. Unset means an empty list and an
  // unchecked box.
  std::function<const std::vector<std::string>&()> Photos;
  // Checked: the stream ends after the last photo's closing transition, without the black tail
  // frames. It ends as every stream does, so the encoder writes the frames it still holds.
  std::function<bool()> BreakWhenNoPictures;
  // Receives "FrameInput read header" and "FrameInput read close"; may be null.
  LogMemo* Log = nullptr;
  // How each photo is laid into the frame and how it moves while on screen; ResetRun reads them.
  // Fit without motion and with the nearest scaler gives the frames the slideshow has always made.
  ScreenMode Screen = ScreenMode::Fit;
  PictureScaler Scaler = PictureScaler::Smooth;
  MotionKind Motion = MotionKind::None;
  int MotionStrength = DefaultMotionStrength;
  // Photos stand as their orientation tag says; false shows them as the file stores them.
  bool AutoRotate = true;
  // Words under the photos: each photo's caption fades in with the transition that brings the photo
  // in, stands in full through its hold and fades out with the transition that takes it away. Its
  // Text is the run's to set (unset: no captions, and frames exactly as without the layer);
  // ResetRun sizes it to the frame.
  CaptionLayer Captions;

  FrameSequencer() = default;
  // Waits for a photo still being decoded ahead.
  ~FrameSequencer() = default;
  FrameSequencer(const FrameSequencer&) = delete;
  FrameSequencer& operator=(const FrameSequencer&) = delete;

  // Starts a run: sizes the working bitmaps to the frame (the only allocation of the run apart
  // from decoding each photo once), clears the run state and picks the first effect.
  //  - effectOrder not empty: the effects are taken from it in turn, wrapping; each number must be
  //    1..EffectCount (std::invalid_argument otherwise).
  //  - randomEffects: the shared generator is seeded (from randomSeed when given, else from the
  //    clock) and each effect is drawn from it.
  //  - otherwise effects go in turn, continuing after the last one this object used; the first
  //    run begins at 1 and 177 wraps to 1.
  // A given randomSeed seeds the shared generator in every mode, so that a run can be made again
  // picture for picture. Frame counts below 1 are taken as 1.
  void ResetRun(int frameWidth, int frameHeight, int holdFrames, int transitionFrames, bool randomEffects,
                std::optional<std::uint32_t> randomSeed = std::nullopt, std::vector<int> effectOrder = {});
  // The same for a show whose photos may choose for themselves. timing gives every hold and
  // transition in frames (entries below 1 are 1). perPhoto, in the photo list's order, gives a
  // photo's screen mode, motion and strength and the effect of the transition after it (1 to
  // EffectCount, std::invalid_argument otherwise); what a photo leaves unset is the show's, the
  // fields above. Its seconds are not read: the timing carries them. The show's effect rule goes
  // on through a chosen effect as if it had been used, random draws included, so choosing one
  // transition's effect changes no other. A photo past the timing's end (a list that grew) holds
  // as long as the timing's last photo, and its transitions are as long as the opening one.
  void ResetRun(int frameWidth, int frameHeight, ShowTiming timing, std::vector<PhotoChoices> perPhoto,
                bool randomEffects, std::optional<std::uint32_t> randomSeed = std::nullopt,
                std::vector<int> effectOrder = {});

  // Positions the run so that the next ReadFrameCanvas returns frame number `frame` (from 0) of
  // the show exactly as reading every frame before it would have: the same photos, moves, effect
  // choices and draws of the shared generator. Only the photos that frame shows are decoded, and
  // only transitions whose effect draws from the shared generator are composed on the way (their
  // draws decide later frames); holds and other transitions are stepped over by counting. Past the
  // end, the next read returns -1; a negative frame is the first. Throws PhotoLoadError when a photo
  // the frame shows cannot be loaded. Needs a ResetRun first.
  void SeekFrame(std::int64_t frame);

  // The frame input's header and close events.
  void ReadHeader();
  void ReadClose();

  // Copies the next frame into canvas at (0, 0) and returns 0, or returns -1 without drawing once
  // the stream has ended. The canvas is the frame input's 24-bit (or 32-bit) bitmap; it is locked
  // here (the lock is re-entrant, so a caller may hold it already). Throws PhotoLoadError when a
  // photo cannot be loaded.
  int ReadFrameCanvas(Bitmap& canvas);

  // Run constants.
  int FrameWidth() const { return frameWidth_; }
  int FrameHeight() const { return frameHeight_; }
  // The show's hold and transition where the run has no timing of each photo's own (with a
  // timing: its last hold and its opening transition).
  int HoldFrames() const { return holdFrames_; }
  int TransitionFrames() const { return transitionFrames_; }
  // Photo index's hold and transition k's length (k follows photo k - 1; 0 comes from black).
  int PhotoHoldFrames(int index) const;
  int TransitionLength(int k) const;
  // The run's timing for the photo list as it stands.
  ShowTiming Timing() const;
  bool RandomEffects() const { return randomEffects_; }
  const std::vector<int>& EffectOrder() const { return effectOrder_; }

  // Run state.
  int PhotoIndex() const { return photoIndex_; }
  // How many photos were taken from the decoding ahead instead of being decoded when needed.
  int PhotosDecodedAhead() const { return photosDecodedAhead_; }
  bool InTransition() const { return inTransition_; }
  int TransitionCounter() const { return transitionCounter_; }
  int HoldCounter() const { return holdCounter_; }
  // The effect of the transition going on or coming next.
  int EffectNumber() const { return shownEffect_; }
  int LastProgress() const { return lastProgress_; }
  int TailFrames() const { return tailFrames_; }

  // The working pictures: the photo as decoded, and the 32-bit frames a transition goes from, goes
  // to and is composed in.
  const Bitmap& PhotoBitmap() const { return photoBitmap_; }
  const Bitmap& FromBitmap() const { return fromBitmap_; }
  const Bitmap& ToBitmap() const { return toBitmap_; }
  const Bitmap& MixBitmap() const { return mixBitmap_; }

 private:
  // The sequencer's generator installed as the thread's RandomSeed for the length of a call, and
  // kept back on every way out, so that its effect choices and its effects' draws depend on this
  // run alone, whichever thread calls and whatever else draws meanwhile. The thread is left with
  // the sequencer's state, as it saw it when there was only one generator.
  class RandomScope {
   public:
    explicit RandomScope(std::uint32_t& state);
    ~RandomScope();
    RandomScope(const RandomScope&) = delete;
    RandomScope& operator=(const RandomScope&) = delete;

   private:
    std::uint32_t& state_;
  };

  // What decoding one photo depends on: equal requests give equal pictures.
  struct PhotoRequest {
    std::string Path;
    PictureTurn Turn = PictureTurn::Upright;
    PictureSizeHint Hint;
    bool operator==(const PhotoRequest& other) const {
      return Path == other.Path && Turn == other.Turn && Hint.Width == other.Hint.Width &&
             Hint.Height == other.Hint.Height && Hint.Rule == other.Hint.Rule;
    }
  };
  struct PhotoAhead {
    PhotoRequest Request;
    std::future<Bitmap> Picture;
  };

  const std::vector<std::string>& photo_list() const;
  int photo_count() const;
  // A photo's own choice, or the show's.
  ScreenMode photo_screen(int index) const;
  bool photo_moves(int index) const;
  // The effect of transition k under the show's rule's current effect.
  int transition_effect(int k, int ruleEffect) const;
  MotionPath motion_path(int index) const;
  PhotoRequest photo_request(int index, const std::string& path, const MotionPath& motion) const;
  // The photo decoded ahead when it was asked for exactly so; otherwise decoded now.
  Bitmap take_photo(const PhotoRequest& request);
  // Starts decoding the photo after index while the frames before it are made.
  void decode_ahead(int index);
  void LoadPhoto(int index);
  // The pictures a transition goes from and to, at its first frame.
  void BringInFirstTransition();
  void BringInTransition(int count);
  void ComposeTransition(int progress);
  void StartMovingTransition();
  void DrawMovingPictures();
  void next_effect();
  // After the last frame of a transition: on to the hold of the photo it brought in.
  void EndTransition();
  // Lays the captions of the pictures a frame shows over it: the held photo's, or a transition's
  // outgoing and incoming ones at its progress.
  void draw_captions(Bitmap& canvas, int photo, bool transition);
  // The shared generator's draws of transition k's first `frames` frames with effect, made as
  // reading them would make them; and the run state at an offset into a transition, a hold or the
  // tail.
  void replay_shared_draws(int k, int frames, int effect);
  void seek_into_transition(int k, int offset);
  void seek_into_hold(int index, int offset);
  void seek_into_tail(std::int64_t offset);

  int frameWidth_ = 0;
  int frameHeight_ = 0;
  int holdFrames_ = 1;
  int transitionFrames_ = 1;
  // Each photo's hold and each transition's length; photos past them take the two above.
  ShowTiming timing_;
  std::vector<PhotoChoices> perPhoto_;
  bool randomEffects_ = false;
  std::vector<int> effectOrder_;
  std::size_t effectOrderPosition_ = 0;
  // This sequencer's generator; RandomScope lends it to the thread.
  std::uint32_t random_ = 0;
  // Where the run began, so that a seek can count from there: the shared generator's state and the
  // rule's effect once the first effect was chosen.
  std::uint32_t runStartRandom_ = 0;
  int runStartEffect_ = 1;
  // The shared generator at the first frame of the transition going on.
  std::uint32_t transitionStartRandom_ = 0;

  int photoIndex_ = -1;
  bool inTransition_ = true;
  int transitionCounter_ = 0;
  int holdCounter_ = 0;
  // The show's rule's effect, kept from run to run: in-turn effects continue where the last run
  // stopped. A photo's chosen effect stands in for it in shownEffect_, the one composed.
  int effectNumber_ = 1;
  int shownEffect_ = 1;
  int lastProgress_ = -1;
  int tailFrames_ = 0;

  Bitmap photoBitmap_;
  Bitmap fromBitmap_;
  Bitmap toBitmap_;
  Bitmap mixBitmap_;

  // With motion the From and To pictures are drawn afresh each frame from their movers; the frame
  // counters say how far along its move each photo is.
  bool moving_ = false;
  // Whether the pictures on each side move; a still photo's side keeps its one laid-out picture.
  bool fromMoving_ = false;
  bool toMoving_ = false;
  std::uint32_t motionSeed_ = 0;
  PhotoMover fromMover_;
  PhotoMover toMover_;
  int fromMoverFrame_ = 0;
  int toMoverFrame_ = 0;

  // Declared last, so that it goes first: its future waits for the decoding thread, which uses
  // nothing of the sequencer's.
  std::optional<PhotoAhead> ahead_;
  int photosDecodedAhead_ = 0;
};

}  // namespace lumivor

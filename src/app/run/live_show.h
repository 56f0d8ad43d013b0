// A show played as it is drawn, without encoding: the run's own sequencer renders each frame on a
// worker thread a few frames ahead of a clock, and the run's own join of the tracks, decoded to
// samples, plays beside it. The sound's device leads the clock while it plays; without a device
// (none configured, none present) a steady clock leads and the show plays silently. A frame the
// renderer could not make in time is skipped, never shown late: the picture follows the sound,
// not the other way round.
//
// Threads: every public function is for one controlling thread (a face's main thread). The
// rendering worker, the sound's preparation worker and the device's callback touch only the
// state behind their own locks, so the controlling thread never waits for a frame or for the join.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/run/conversion_job.h"
#include "app/run/run_request.h"
#include "app/show/frame_sequencer.h"
#include "raster/raster.h"

namespace lumivor {

// The frames of the video a run makes of the request: the whole show, or, when the break after
// the last photo applies (no sound that must end with the show), the show without its black tail.
std::int64_t LiveShowFrameCount(const RunRequest& request, const ShowPacing& pacing);

// Seconds of frame at rate (frame 0 starts at 0).
double FrameSeconds(std::int64_t frame, const FrameRateParts& rate);
// The frame showing at a time: the last one that has started by then.
std::int64_t FrameAtSeconds(double seconds, const FrameRateParts& rate);

// "mm:ss.t" of a time (minutes grow past 59: "75:02.5"); tenths are cut, never rounded up, so a
// position never reads later than it is.
std::string PositionText(double seconds);

// Moves the sequencer so that its next read gives frame `frame` of the show it was readied for;
// position is its next read now and becomes frame. The next frame or the one after is read on
// (cheaper than decoding the photos a seek needs); any other move is the sequencer's own seek,
// which counts every photo's timing and the effects' draws from the show's start as a run makes
// them, and decodes only the photos the frame shows. make readies a sequencer when there is none.
// false when a photo cannot be loaded (the reason in errorText).
bool SeekSequencer(std::unique_ptr<FrameSequencer>& sequencer, std::int64_t& position, std::int64_t frame,
                   const std::function<std::unique_ptr<FrameSequencer>()>& make, Bitmap& scratch,
                   std::string& errorText);

class LiveShow {
 public:
  struct Frame {
    std::int64_t Index = -1;
    // Shared with the renderer's pool: it is not drawn into again while a holder keeps it.
    std::shared_ptr<const Bitmap> Picture;
  };
  enum class SoundState { None, Preparing, Ready, Failed };
  // The sound device and what its callback reads (public only for the callback).
  struct Audio;

  LiveShow();
  ~LiveShow();
  LiveShow(const LiveShow&) = delete;
  LiveShow& operator=(const LiveShow&) = delete;

  // Before Open. Without sound output the steady clock leads even when there is sound to play.
  bool SoundOutput = true;
  // The sound device's driver ("dummy" in tests); empty: SDL's own choice.
  std::string AudioDriver;
  // Frames the renderer keeps ready ahead of the clock.
  int FramesAhead = 4;
  // Called on a worker each time a frame is ready (a face posts a repaint to its own thread).
  std::function<void()> OnFrameReady;
  // Called on a worker once beat sync has settled the show's timing, its length and
  // BeatSyncText (a face posts an update of what it shows of them to its own thread).
  std::function<void()> OnTimingReady;

  // Starts showing the request at startFrame, paused. The old show (if any) is closed first. false
  // with the reason for a request no run could make (no photos, a frame size out of range).
  bool Open(const RunRequest& request, std::int64_t startFrame, std::string& errorText);
  void Close();
  bool IsOpen() const { return open_; }

  // Changes once when beat sync fits the show to its joined music.
  std::int64_t FrameCount() const { return frameCount_; }
  FrameRateParts Rate() const { return pacing_.Rate; }
  const ShowPacing& Pacing() const { return pacing_; }
  int Width() const { return request_.Width; }
  int Height() const { return request_.Height; }

  void Play();
  void Pause();
  bool Playing() const;
  // The position moves to frame (kept within the show); playing goes on from there.
  void SeekFrame(std::int64_t frame);
  // Pauses and moves by frames (-1 and 1 for a step).
  void StepFrames(std::int64_t frames);
  // The clock's frame now, within the show. At the last frame playing stops.
  std::int64_t Position();

  // The frame to show now: the one at the clock's position when it is ready, otherwise the latest
  // ready one before it (or the last one shown). Frames passed by the clock while playing that
  // were never handed out here are counted as dropped.
  Frame CurrentFrame();
  // Waits (up to timeout) until the frame at the position is ready; true when it is.
  bool WaitForCurrentFrame(std::chrono::milliseconds timeout);
  // What stopped the rendering (a photo that cannot be loaded); empty while all is well.
  std::string RenderError() const;

  std::int64_t FramesShown() const { return framesShown_; }
  std::int64_t FramesDropped() const { return framesDropped_; }
  // From the last Play to the first frame handed out at or after its position; negative before.
  double SecondsToFirstFrame() const;

  // The sound.
  SoundState Sound() const;
  std::string SoundError() const;
  bool WaitForSound(std::chrono::milliseconds timeout);
  // The joined sound as signed 16-bit interleaved samples; valid once Ready, then never changed.
  const std::vector<std::int16_t>& SoundSamples() const { return pcm_; }
  int SoundRate() const { return soundRate_; }
  int SoundChannels() const { return soundChannels_; }
  // The device is open (its clock leads while playing).
  bool SoundDeviceOpen() const;
  // With beat sync, once the joined music was read: the run's log line ("Beat sync: 120.0 bpm", or
  // that the show keeps its planned times); empty before and without beat sync.
  std::string BeatSyncText() const;
  // The timing the frames are drawn with now: the plan, or its fit to the beats.
  ShowTiming Timing() const;

 private:
  std::unique_ptr<FrameSequencer> MakeSequencer(const ShowTiming& timing, std::int64_t frameCount) const;
  // Beat sync on the joined music, decided as the run decides it; nothing when the sound cannot be
  // read or the show is closing.
  std::optional<ShowBeatFit> FitToBeats(const RunRequest& request, const std::string& joinedSound, TFFDecoder& decoder);
  // The fit taken up: the renderer draws by it from its next frame, and the face is told.
  void TakeBeatFit(const ShowBeatFit& fit);
  void RenderLoop();
  void PrepareSound(RunRequest request);
  // The clock's frame; lock_ held.
  // Notes the first frame after Play as shown.
  void FirstFrameShownLocked();
  double ClockFrameLocked(std::chrono::steady_clock::time_point now) const;
  void AnchorLocked(double frame);
  void StartSoundLocked();
  void StopSoundLocked();
  void StopWorkers();

  RunRequest request_;
  // The title card's picture while the show has one; removed with the show.
  UnfinishedFile titleCard_;
  ShowPacing pacing_;
  // Written under lock_ (beat sync changes it on the sound's worker); read anywhere.
  std::atomic<std::int64_t> frameCount_{0};
  bool open_ = false;

  mutable std::mutex lock_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool playing_ = false;
  // The clock: at anchorTime_ the position was anchorFrame_.
  double anchorFrame_ = 0;
  std::chrono::steady_clock::time_point anchorTime_;
  // Bumped by every seek, so that the renderer drops what it made for the old position.
  std::uint64_t seekGeneration_ = 0;
  std::deque<Frame> ready_;
  std::vector<std::shared_ptr<Bitmap>> pool_;
  Frame shown_;
  std::string renderError_;
  // The show's timing, the plan or beat sync's fit of it; a new one bumps timingGeneration_ so that
  // the renderer readies its sequencer again.
  ShowTiming timing_;
  std::uint64_t timingGeneration_ = 0;
  std::string beatSyncText_;
  std::chrono::steady_clock::time_point playTime_;
  std::int64_t playFrame_ = 0;
  // The last frame counted as shown or dropped since Play or the last seek while playing.
  std::int64_t dropBase_ = -1;
  double firstFrameSeconds_ = -1;
  bool awaitingFirst_ = false;
  // Playing on the steady clock, the clock waits at its frame until that frame has been drawn.
  bool clockHeld_ = false;
  std::atomic<std::int64_t> framesShown_{0};
  std::atomic<std::int64_t> framesDropped_{0};

  // Sound: written by the preparing worker before soundState_ turns Ready, then read only.
  std::atomic<SoundState> soundState_{SoundState::None};
  std::string soundError_;
  std::vector<std::int16_t> pcm_;
  int soundRate_ = 0;
  int soundChannels_ = 0;
  std::unique_ptr<Audio> audio_;
  bool soundLeads_ = false;

  std::atomic<bool> stopSound_{false};
  std::thread renderer_;
  std::thread soundWorker_;
};

}  // namespace lumivor

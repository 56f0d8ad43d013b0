#include "studio/track_lengths.h"

#include "app/run/audio_tracks.h"
#include "app/common/window_services.h"
#include "media/components/ff_decoder.h"

namespace lumivor::studio {
namespace {

// The audio page's window has nothing to show here: only its list of rows is read.
class UnseenAudioPage : public AudioPageView {
 public:
  std::vector<std::string> Chosen;
  std::vector<std::string> ChooseAudioFiles() override { return Chosen; }
  void SetWindowTitle(const std::string&) override {}
  void SetStartEnabled(bool) override {}
  void FocusStart() override {}
  void SetStopEnabled(bool) override {}
  void SetPauseEnabled(bool) override {}
  void SetAddAudioEnabled(bool) override {}
  void SetUpEnabled(bool) override {}
  void SetDownEnabled(bool) override {}
  void SetClearAudioEnabled(bool) override {}
  void SetPlayEnabled(bool) override {}
  void SetPlayerStopEnabled(bool) override {}
  void SetPlayerPauseEnabled(bool) override {}
};

class UnseenLog : public LogMemo {
 public:
  void AddLine(const std::string&) override {}
};

}  // namespace

struct TrackLengthReader::Parts {
  TFFDecoder Decoder;
  AudioTrackList Rows;
  UnseenAudioPage View;
  UnseenLog Log;
  AudioPage Page{Rows, View, Decoder, Log};
};

TrackLengthReader::TrackLengthReader() : parts_(std::make_unique<Parts>()) {}
TrackLengthReader::~TrackLengthReader() = default;

std::vector<std::string> TrackLengthReader::Read(const std::vector<std::string>& tracks) {
  std::vector<std::string> lengths(tracks.size());
  if (tracks.empty()) return lengths;
  parts_->Rows.Clear();
  parts_->View.Chosen = tracks;
  // Add Audio loads the libraries first, then reads every chosen file's length into its rows.
  parts_->Page.btnAddAudioClick();
  const std::vector<AudioTrack>& rows = parts_->Rows.Rows();
  for (std::size_t i = 0; i < rows.size() && i < lengths.size(); ++i) lengths[i] = rows[i].DurationText;
  parts_->Rows.Clear();
  return lengths;
}

}  // namespace lumivor::studio

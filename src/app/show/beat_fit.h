// A show's timing moved onto the music's beats: each cut (the start of a transition) falls on the
// beat nearest where it was planned, as far as the holds may stretch or shrink for it.
#pragma once

#include <vector>

#include "app/show/frame_sequencer.h"
#include "app/show/show_timing.h"

namespace lumivor {

// A hold may change by at most this share of its planned length to reach a beat; more would turn a
// show of even pace into one of rushed and dragging photos.
inline constexpr int BeatFitHoldChangeDivisor = 3;

// The plan with its holds changed so that every transition but the opening one starts on a beat
// (seconds from the show's start, rising) at the given rate: the beat nearest the transition's
// planned start that the hold before it can reach (its planned length, give or take a third, and
// at least one frame). Where no beat is in reach the transition keeps the start nearest its
// planned one. Transitions keep their lengths; each start is drawn to its own planned time, so the
// changes never add up and the show's length stays within a beat of the plan. No beats, or a rate
// that counts no frames, leave the plan as it is.
ShowTiming FitTimingToBeats(const ShowTiming& plan, const std::vector<double>& beatSeconds, FrameRateParts rate);

}  // namespace lumivor

#pragma once

// --smooth: the schedule as one stream of frames (engine/frame_stream.h),
// played on one output device (and, with -m, one input device) that stays
// open from the first tone that sounds to the end of the run, in short
// blocks, so that keys are heard within a tenth of a second.
void play_schedule_smoothly();
// --output with --smooth: the same stream, written to the sound file.
void export_schedule_smoothly();

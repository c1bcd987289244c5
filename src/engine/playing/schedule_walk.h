#pragma once

// The play loop of a --smooth run, one entry at a time as its stream of
// frames reaches it: comment entries printed, each tone entry logged as it
// starts and handed out. Keys insert entries and move fdt_pos meanwhile, so
// both are read afresh at every step, as the play loop reads them.

struct walked_tone {
    double frequency;
    int duration;
};

// The walk starts before the first entry.
void begin_schedule_walk();
// Walks to the next tone entry, printing the comments on the way, and logs
// its line: false once the schedule is over.
bool walk_to_next_tone(walked_tone& tone);
// Whether a tone entry that sounds lies after the playing one, in this pass
// or a later one (--loop): the last ramp of a run ends with its last frame.
bool sound_lies_ahead();

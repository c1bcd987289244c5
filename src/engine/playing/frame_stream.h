#pragma once

#include <cstdint>
#include <vector>

#include "engine/sound/render.h"

// --smooth: the run's sound as one stream of frames, which playback and the
// export both pull from, so that a file holds what the device was given.
// Tone follows tone with no gap, each exactly its seconds of frames, the
// wave of each channel carried on across the change; wherever sound starts
// or stops the level follows a raised-cosine ramp; and the run as a whole
// may rise from silence and fall to it. The stream reads the schedule only
// as it reaches each entry, so keys still change what comes next.

struct stream_settings {
    int32_t ramp_frames = 0;         // --fade, in frames; 0: no ramps
    int64_t fade_in_frames = 0;      // --fade-in; 0: none
    int64_t fade_out_frames = 0;     // --fade-out; 0: none
};

// What the stream is playing, for the status line and the capture.
struct stream_tone {
    bool playing = false;
    double frequency = 0;
    int duration = 0;
    int64_t frames_done = 0;     // of the whole entry, both parts
    uint64_t first_frame = 0;    // the stream's frame it began at
    int64_t seconds_before = 0;  // of the steady part, while the tail plays
};

// A channel whose wave cannot carry on crosses over from the old one.
struct frame_stream_crossing {
    const int16_t* table = nullptr;
    int32_t old_phase = 0;
    int32_t old_step = 0;
    int32_t frames_left = 0;
};

class frame_stream {
public:
    explicit frame_stream(const stream_settings& settings);

    // Renders up to count frames into out (two samples each); fewer only
    // once the schedule is over, 0 from then on. While paused, silence.
    uint32_t render(int16_t* out, uint32_t count);
    bool over() const { return over_; }
    // Whether the schedule has anything left to sound, before the first
    // render: a run of only comments opens no device.
    bool sounds() const;

    // The playing tone ends at the next frame: skip, back.
    void end_tone();
    // The sound falls to silence and stays there, the tone held where it
    // stood, until resume().
    void pause();
    void resume();
    bool silent_in_pause() const { return paused_ && level_ == 0; }
    // The sound falls to silence, and the stream is over after it: quit,
    // Ctrl-C, a time to stop.
    void stop();
    bool stopping() const { return stopping_; }
    // The frames a fall from where the level stands takes.
    int64_t frames_to_silence() const { return level_; }
    // --until: the stream's frame at which the run stops: the fall (and a
    // fade-out) ends there, however far ahead the stream is rendered; -1:
    // none.
    void stop_at_frame(int64_t frame) { stop_frame_ = frame; }
    // Once, after the stream began its fall for the stop frame: true, and
    // the tone the fall cut, its frames counted to the fall's end (a fall
    // that ends within the same render has closed the tone by then).
    bool take_fall_for_stop_frame(stream_tone& cut) {
        if (!fell_for_stop_frame_) return false;
        fell_for_stop_frame_ = false;
        cut = tone_at_fall_;
        return true;
    }
    // The sound rises from silence again: a device back after a wait.
    void rise();
    // Frames rendered that the device never played (it failed): the tone
    // plays them again, as far as they were its own.
    void give_back(uint64_t frames);

    const stream_tone& tone() const { return tone_; }
    // Frames rendered so far, silence in pauses included.
    uint64_t position() const { return position_; }
    // Tones that ended since the last call, oldest first: their first frame
    // in the stream and their frames.
    struct ended_tone {
        double frequency;
        uint64_t first_frame;
        uint64_t last_frame;  // one past it
    };
    std::vector<ended_tone> take_ended_tones();

private:
    struct channel {
        int32_t phase = 0;
        int32_t step = 0;
    };

    bool next_part();
    bool begin_next_part();
    uint32_t frames_before_stop_fall(uint32_t count);
    uint32_t render_part(int16_t* out, uint32_t count);
    void begin_part(double frequency, int64_t seconds, int pulse);
    void set_channel(channel& c, frame_stream_crossing& x, const int16_t* table, int32_t step);
    int32_t ramp_top() const { return static_cast<int32_t>(ramp_.size()) - 1; }
    void close_tone();
    int64_t frames_left_in_schedule();
    float envelope(int64_t sound_frame, int64_t frames_left);
    float level_step();

    stream_settings settings_;
    std::vector<float> ramp_;       // ramp_[i], i = 0..ramp_frames: 0 to 1
    std::vector<float> gate_;       // one second of the -p gate, ramps at its edges

    bool started_ = false;
    bool over_ = false;
    bool paused_ = false;
    bool stopping_ = false;
    bool fell_for_stop_frame_ = false;
    stream_tone tone_at_fall_;

    // The level of ramps: ramp_[level_], rising or falling by one a frame.
    int32_t level_ = 0;
    int direction_ = 1;  // +1 rising, -1 falling, 0 steady
    float envelope_ = -1;  // the last envelope, for its slew

    // The part playing: the steady part or the pulsed tail of an entry.
    bool in_part_ = false;
    int64_t part_frames_ = 0;
    int64_t part_done_ = 0;
    bool pulsed_ = false;
    bool tail_pending_ = false;
    int tail_seconds_ = 0;
    int tail_pulse_ = 0;

    channel right_;
    channel left_;
    frame_stream_crossing right_crossing_;
    frame_stream_crossing left_crossing_;
    float last_gate_ = 1.0f;        // the gate's level at the last frame
    int32_t gate_ramp_frames_ = 0;

    stream_tone tone_;
    std::vector<ended_tone> ended_;
    uint64_t position_ = 0;
    int64_t sound_frames_ = 0;  // frames of tones so far, for the fade-in
    int64_t stop_frame_ = -1;
};

#include "engine/playing/frame_stream.h"

#include <algorithm>
#include <cmath>

#include "engine/clock/passes.h"
#include "engine/playing/schedule_walk.h"
#include "engine/status/status_line.h"
#include "engine/sound/wavetables.h"
#include "schedule/entry_parts.h"
#include "schedule/schedule_summary.h"

namespace {

constexpr double pi = 3.14159265358979323846;

// The raised cosine from 0 to 1 over frames steps: frames + 1 values.
std::vector<float> raised_cosine(int32_t frames) {
    std::vector<float> values(static_cast<size_t>(frames) + 1);
    for (int32_t i = 0; i <= frames; ++i)
        values[static_cast<size_t>(i)] = static_cast<float>(0.5 - 0.5 * std::cos(pi * i / frames));
    return values;
}

double raised(double x) {
    if (x <= 0) return 0.0;
    return x >= 1 ? 1.0 : 0.5 - 0.5 * std::cos(pi * x);
}

int16_t scaled(int16_t sample, float gain) {
    return static_cast<int16_t>(std::lround(static_cast<float>(sample) * gain));
}

void advance(int32_t& phase, int32_t step) {
    phase += step;
    if (phase > phase_max) phase -= phase_max;
}

schedule_summary summary;

}  // namespace

frame_stream::frame_stream(const stream_settings& settings) : settings_(settings) {
    // Without ramps the level still moves, in a single frame.
    ramp_ = raised_cosine(settings_.ramp_frames > 0 ? settings_.ramp_frames : 1);
    summary = schedule_summary{};
    begin_schedule_walk();
}

bool frame_stream::sounds() const {
    return !over_ && (in_part_ || tail_pending_ || sound_lies_ahead());
}

void frame_stream::set_channel(channel& c, frame_stream_crossing& x, const int16_t* table, int32_t step) {
    // A wave of 0 Hz sounds as its table's first entry: a channel going to
    // or from it starts from phase 0, crossing over from its old wave where
    // there are ramps.
    const bool carries = started_ && ((c.step != 0 && step != 0) || c.step == step);
    x.frames_left = 0;
    if (!carries && started_ && settings_.ramp_frames > 0) x = frame_stream_crossing{table, c.phase, c.step, settings_.ramp_frames};
    if (!carries) c.phase = 0;
    c.step = step;
}

void frame_stream::begin_part(double frequency, int64_t seconds, int pulse) {
    render_state steps = render_start(frequency, pulse);
    set_channel(right_, right_crossing_, right_table, steps.right_step);
    set_channel(left_, left_crossing_, left_table, steps.left_step);
    part_frames_ = seconds * sample_rate;
    part_done_ = 0;
    pulsed_ = pulse != 0;
    if (!pulsed_) last_gate_ = 1.0f;
    if (pulsed_ && gate_.empty()) {
        // One second of the gate, as every second of a classic pulsed tone
        // has it, with ramps at its edges of at most a quarter of its half
        // period; the edge between two seconds that both sound is none.
        const int32_t half_period = steps.half_period;
        std::vector<bool> on(sample_rate);
        for (int32_t j = 0; j < sample_rate; ++j) on[static_cast<size_t>(j)] = (j / half_period) % 2 == 0;
        gate_.assign(sample_rate, 0.0f);
        for (int32_t j = 0; j < sample_rate; ++j) gate_[static_cast<size_t>(j)] = on[static_cast<size_t>(j)] ? 1.0f : 0.0f;
        const int32_t edge_frames = std::min(settings_.ramp_frames, half_period / 4);
        gate_ramp_frames_ = edge_frames;
        if (edge_frames > 0) {
            const std::vector<float> edge = raised_cosine(edge_frames + 1);
            const auto at = [](int32_t j) { return static_cast<size_t>((j % sample_rate + sample_rate) % sample_rate); };
            for (int32_t j = 0; j < sample_rate; ++j) {
                const bool now = on[at(j)];
                const bool before = on[at(j - 1)];
                if (now && !before)
                    for (int32_t i = 0; i < edge_frames; ++i)
                        gate_[at(j + i)] *= edge[static_cast<size_t>(i + 1)];
                if (!now && before)
                    for (int32_t i = 0; i < edge_frames; ++i)
                        gate_[at(j - 1 - i)] *= edge[static_cast<size_t>(i + 1)];
            }
        }
    }
    in_part_ = part_frames_ > 0;
    started_ = true;
}

void frame_stream::close_tone() {
    if (!tone_.playing) return;
    // A tone that gave no frame (it had no second of sound) records nothing.
    if (position_ > tone_.first_frame) ended_.push_back({tone_.frequency, tone_.first_frame, position_});
    tone_.playing = false;
}

bool frame_stream::next_part() {
    for (;;) {
        if (tail_pending_) {
            tail_pending_ = false;
            tone_.seconds_before = tone_.frames_done / sample_rate;
            status_line_tail(static_cast<int>(tone_.seconds_before));
            begin_part(tone_.frequency, tail_seconds_, tail_pulse_);
            if (in_part_) return true;
            continue;
        }
        close_tone();
        walked_tone next{};
        if (!walk_to_next_tone(next)) return false;
        const entry_parts parts = split_entry(next.duration);
        tone_ = stream_tone{true, next.frequency, next.duration, 0, position_, 0};
        tail_pending_ = parts.split && parts.tail_seconds >= 1;
        tail_seconds_ = parts.tail_seconds;
        tail_pulse_ = parts.tail_pulse;
        if (parts.first_seconds >= 1) {
            begin_part(next.frequency, parts.first_seconds, parts.first_pulse);
            if (in_part_) return true;
        }
    }
}

int64_t frame_stream::frames_left_in_schedule() {
    follow_schedule(summary);
    int64_t left = part_frames_ - part_done_ + summary.seconds_after * sample_rate;
    if (tail_pending_) left += int64_t{tail_seconds_} * sample_rate;
    left += frames_of_passes_to_come();
    if (stop_frame_ >= 0) left = std::min(left, std::max<int64_t>(0, stop_frame_ - static_cast<int64_t>(position_)));
    return left;
}

float frame_stream::envelope(int64_t sound_frame, int64_t frames_left) {
    double level = 1.0;
    if (settings_.fade_in_frames > 0)
        level *= raised(static_cast<double>(sound_frame) / static_cast<double>(settings_.fade_in_frames));
    if (settings_.fade_out_frames > 0)
        level *= raised(static_cast<double>(frames_left) / static_cast<double>(settings_.fade_out_frames));
    auto target = static_cast<float>(level);
    // Keys that add or skip tones move the fall at once; the level follows
    // them no faster than a ramp would.
    if (envelope_ >= 0 && settings_.ramp_frames > 0) {
        const float most = 1.0f / static_cast<float>(settings_.ramp_frames);
        target = std::clamp(target, envelope_ - most, envelope_ + most);
    }
    envelope_ = target;
    return target;
}

float frame_stream::level_step() {
    const int32_t top = ramp_top();
    level_ = std::clamp(level_ + direction_, 0, top);
    if (level_ == top && direction_ > 0) direction_ = 0;
    return ramp_[static_cast<size_t>(level_)];
}

namespace {

// The sample of a channel that crosses over from its old wave.
int16_t crossed(int16_t sample, frame_stream_crossing& x, const std::vector<float>& ramp, int32_t ramp_frames) {
    const float w = ramp[static_cast<size_t>(ramp_frames - x.frames_left + 1)];
    const float old_sample = x.table[static_cast<size_t>(x.old_phase >> 8)];
    advance(x.old_phase, x.old_step);
    --x.frames_left;
    return static_cast<int16_t>(std::lround(old_sample * (1.0f - w) + static_cast<float>(sample) * w));
}

}  // namespace

uint32_t frame_stream::render(int16_t* out, uint32_t count) {
    uint32_t made = 0;
    while (made < count && !over_) {
        if (stopping_ && level_ == 0) {
            over_ = true;
            close_tone();
            break;
        }
        if (silent_in_pause()) {
            // A stop frame that comes in the pause ends the stream there.
            const uint32_t n = frames_before_stop_fall(count - made);
            std::fill(out + 2 * made, out + 2 * (made + n), int16_t{0});
            position_ += n;
            made += n;
            continue;
        }
        if (!in_part_ && !begin_next_part()) break;
        made += render_part(out + 2 * made, frames_before_stop_fall(count - made));
    }
    return made;
}

// At most count, but no further than the frame where the fall for the stop
// frame begins, which then begins.
uint32_t frame_stream::frames_before_stop_fall(uint32_t count) {
    if (stop_frame_ < 0 || stopping_) return count;
    const int64_t fall_at = stop_frame_ - level_;
    const int64_t ahead = fall_at - static_cast<int64_t>(position_);
    if (ahead > 0) return static_cast<uint32_t>(std::min<int64_t>(count, ahead));
    tone_at_fall_ = tone_;
    tone_at_fall_.frames_done += level_;
    fell_for_stop_frame_ = true;
    stop();
    return count;
}

bool frame_stream::begin_next_part() {
    const int32_t top = ramp_top();
    const float was = ramp_[static_cast<size_t>(level_)] * last_gate_;
    if (!next_part()) {
        over_ = true;
        return false;
    }
    // Sound starts: from silence, or from a gate or a fall that left it low,
    // it rises, from about where it stood.
    if (!paused_ && !stopping_ && (was < 1.0f || level_ < top)) {
        level_ = static_cast<int32_t>(std::lower_bound(ramp_.begin(), ramp_.end(), was) - ramp_.begin());
        direction_ = level_ < top ? 1 : 0;
    }
    return true;
}

uint32_t frame_stream::render_part(int16_t* out, uint32_t count) {
    const int64_t schedule_left = frames_left_in_schedule();
    const bool last_part = !tail_pending_ && !sound_lies_ahead();
    const uint32_t n = static_cast<uint32_t>(std::min<int64_t>(count, part_frames_ - part_done_));
    const bool fading = settings_.fade_in_frames > 0 || settings_.fade_out_frames > 0;
    uint32_t f = 0;
    // Most frames are a steady tone at full level: the tables as they are,
    // up to where the run's last ramp begins.
    if (direction_ == 0 && !pulsed_ && !fading && right_crossing_.frames_left == 0 &&
        left_crossing_.frames_left == 0 && ramp_[static_cast<size_t>(level_)] == 1.0f) {
        uint32_t steady = n;
        if (last_part && !stopping_ && settings_.ramp_frames > 0)
            steady = static_cast<uint32_t>(std::clamp<int64_t>(part_frames_ - part_done_ - level_, 0, n));
        for (; f < steady; ++f) {
            out[2 * f] = left_table[static_cast<size_t>(left_.phase >> 8)];
            out[2 * f + 1] = right_table[static_cast<size_t>(right_.phase >> 8)];
            advance(right_.phase, right_.step);
            advance(left_.phase, left_.step);
        }
        part_done_ += steady;
        tone_.frames_done += steady;
        sound_frames_ += steady;
        position_ += steady;
    }
    for (; f < n; ++f) {
        // The last ramp of the run ends with its last frame.
        if (last_part && !stopping_ && direction_ >= 0 && settings_.ramp_frames > 0 &&
            part_frames_ - part_done_ <= level_)
            direction_ = -1;
        int16_t right_sample = right_table[static_cast<size_t>(right_.phase >> 8)];
        int16_t left_sample = left_table[static_cast<size_t>(left_.phase >> 8)];
        if (right_crossing_.frames_left > 0)
            right_sample = crossed(right_sample, right_crossing_, ramp_, settings_.ramp_frames);
        if (left_crossing_.frames_left > 0)
            left_sample = crossed(left_sample, left_crossing_, ramp_, settings_.ramp_frames);
        float gain = direction_ != 0 ? level_step() : ramp_[static_cast<size_t>(level_)];
        if (pulsed_) {
            last_gate_ = gate_[static_cast<size_t>(part_done_ % sample_rate)];
            // A tail that follows sounding steady frames has no edge to ramp
            // at its start.
            if (part_done_ < sample_rate && last_gate_ > 0 && part_done_ < gate_ramp_frames_) last_gate_ = 1.0f;
            gain *= last_gate_;
        }
        if (fading) gain *= envelope(sound_frames_, schedule_left - static_cast<int64_t>(f));
        out[2 * f] = gain == 1.0f ? left_sample : scaled(left_sample, gain);
        out[2 * f + 1] = gain == 1.0f ? right_sample : scaled(right_sample, gain);
        advance(right_.phase, right_.step);
        advance(left_.phase, left_.step);
        ++part_done_;
        ++tone_.frames_done;
        ++sound_frames_;
        ++position_;
        // A fall that reached silence: the pause holds the tone here, a stop
        // ends the stream.
        if (level_ == 0 && direction_ <= 0 && (paused_ || stopping_)) {
            if (stopping_) {
                over_ = true;
                close_tone();
            }
            if (part_done_ >= part_frames_) in_part_ = false;
            return f + 1;
        }
    }
    if (part_done_ >= part_frames_) in_part_ = false;
    return n;
}

void frame_stream::end_tone() {
    in_part_ = false;
    tail_pending_ = false;
}

void frame_stream::pause() {
    paused_ = true;
    direction_ = -1;
}

void frame_stream::resume() {
    paused_ = false;
    if (!stopping_) direction_ = 1;
}

void frame_stream::stop() {
    stopping_ = true;
    direction_ = -1;
}

void frame_stream::rise() {
    level_ = 0;
    if (!paused_ && !stopping_) direction_ = 1;
}

void frame_stream::give_back(uint64_t frames) {
    const int64_t back = std::min<int64_t>(static_cast<int64_t>(frames), part_done_);
    part_done_ -= back;
    tone_.frames_done -= back;
    sound_frames_ -= back;
    if (back > 0 && part_done_ < part_frames_) in_part_ = true;
}

std::vector<frame_stream::ended_tone> frame_stream::take_ended_tones() {
    std::vector<ended_tone> taken;
    taken.swap(ended_);
    return taken;
}

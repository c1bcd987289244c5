#include "engine/capture/stream_capture.h"

#include <algorithm>
#include <deque>
#include <vector>

#include "engine/capture/capture.h"
#include "engine/sound/render.h"
#include "log/log.h"
#include "process/release.h"
#include "process/settings.h"
#include "process/state.h"

namespace {

// Thirty seconds of input: more than a block holds, and the lag of any
// input device.
constexpr uint32_t ring_frames = 30 * capture_rate;
constexpr uint32_t block_frames_max = capture_seconds_max * capture_rate;
// How long the end of a run waits for the input to catch up.
constexpr int catch_up_ms = 1500;
constexpr int catch_up_step_ms = 50;

struct tone_block {
    double frequency = 0;
    uint64_t first_input = 0;
    bool ended = false;
    uint64_t frames = block_frames_max;  // known once it ended
    std::vector<int16_t> samples;
    uint64_t taken = 0;
};

std::vector<int16_t> ring;
std::deque<tone_block> tones;
// The input frame that lines up with an output frame.
uint64_t line_up_output = 0;
uint64_t line_up_input = 0;
bool lined_up = false;

uint64_t input_frame_of(uint64_t output_frame) {
    if (output_frame < line_up_output) return line_up_input;
    // Exact for whole seconds: a tone of N s gets N x 1000 frames.
    return line_up_input + (output_frame - line_up_output) * capture_rate / sample_rate;
}

void take_in(tone_block& tone, uint64_t recorded) {
    const uint64_t want = std::min<uint64_t>(tone.frames, block_frames_max);
    // What the ring no longer holds is lost, never read out of turn.
    const uint64_t oldest = recorded > ring_frames ? recorded - ring_frames : 0;
    while (tone.taken < want && tone.first_input + tone.taken < recorded) {
        const uint64_t at = tone.first_input + tone.taken;
        if (at < oldest) {
            tone.samples.push_back(0);
            tone.samples.push_back(0);
        } else {
            const size_t slot = static_cast<size_t>(at % ring_frames);
            tone.samples.push_back(ring[2 * slot]);
            tone.samples.push_back(ring[2 * slot + 1]);
        }
        ++tone.taken;
    }
}

void write_whole_blocks() {
    while (!tones.empty() && tones.front().ended &&
           tones.front().taken >= std::min<uint64_t>(tones.front().frames, block_frames_max)) {
        const tone_block& tone = tones.front();
        write_mor_block(tone.frequency, tone.samples.data(), static_cast<uint32_t>(tone.taken));
        tones.pop_front();
    }
}

}  // namespace

wave_error stream_capture_open(int answer_limit_ms) {
    if (wave_in) return 0;
    ring.assign(2 * size_t{ring_frames}, 0);
    wave_error code = current_platform->audio.open_input(settings.input_device, wave_in, answer_limit_ms);
    if (code == 0) code = wave_in->start_ring(pcm_block{ring.data(), ring_frames});
    if (code != 0) wave_in.reset();
    lined_up = false;
    return code;
}

bool stream_capture_open_now() {
    return static_cast<bool>(wave_in);
}

void stream_capture_line_up(uint64_t output_frame) {
    if (!wave_in || lined_up) return;
    line_up_output = output_frame;
    line_up_input = wave_in->recorded();
    lined_up = true;
}

void stream_capture_tone_begins(double frequency, uint64_t first_frame) {
    tone_block tone;
    tone.frequency = frequency;
    tone.first_input = input_frame_of(first_frame);
    tone.samples.reserve(2 * size_t{block_frames_max});
    tones.push_back(std::move(tone));
}

void stream_capture_tone_ends(uint64_t end_frame) {
    for (tone_block& tone : tones) {
        if (tone.ended) continue;
        const uint64_t end = input_frame_of(end_frame);
        tone.frames = end > tone.first_input ? end - tone.first_input : 0;
        tone.ended = true;
    }
}

void stream_capture_step() {
    if (wave_in && lined_up) {
        const uint64_t recorded = wave_in->recorded();
        for (tone_block& tone : tones) take_in(tone, recorded);
    }
    write_whole_blocks();
}

wave_error stream_capture_failure() {
    return wave_in ? wave_in->failure() : 0;
}

void stream_capture_lose_input() {
    if (wave_in) {
        stream_capture_step();
        wave_in->reset();
        wave_in.reset();
    }
    // The blocks keep what came in before the loss.
    for (tone_block& tone : tones) tone.frames = std::min(tone.frames, tone.taken);
    write_whole_blocks();
    lined_up = false;
}

void stream_capture_finish(bool interrupted) {
    if (interrupted && !tones.empty() && !tones.back().ended) tones.pop_back();
    for (tone_block& tone : tones) tone.ended = true;
    for (int waited = 0; wave_in && waited < catch_up_ms; waited += catch_up_step_ms) {
        stream_capture_step();
        if (tones.empty() || wave_in->failure() != 0) break;
        current_platform->clock.sleep_ms(catch_up_step_ms);
    }
    // What did not come in time is cut off.
    for (tone_block& tone : tones) tone.frames = std::min(tone.frames, tone.taken);
    write_whole_blocks();
}

void reset_stream_capture() {
    ring.clear();
    tones.clear();
    lined_up = false;
    line_up_output = line_up_input = 0;
}

namespace {

const reset_step stream_capture_reset{reset_stream_capture};

}  // namespace

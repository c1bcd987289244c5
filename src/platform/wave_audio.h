#pragma once

#include <cstdint>
#include <memory>
#include <string>

// The wave-audio service: 16-bit interleaved stereo PCM, left sample first.
// Devices are polled, never asked to call back.

// Two 16-bit samples, left first.
inline constexpr uint32_t bytes_per_frame = 4;

// 0 is success; anything else is a device-specific code for error_text().
using wave_error = int;

// A block of frames that the caller owns. A device refers to a queued block by
// its address until the block is done.
struct pcm_block {
    int16_t* samples = nullptr;  // 2 samples per frame
    uint32_t frames = 0;
};

// An open output device: 44100 frames/s, 2 channels, S16.
struct wave_output {
    virtual ~wave_output() = default;  // closes the device
    // Queues the whole block behind those already queued; each write plays once.
    virtual wave_error write(const pcm_block& block) = 0;
    // True once the device has taken every frame of the block since its last
    // write, or after reset(). A block never written counts as done.
    virtual bool is_done(const pcm_block& block) = 0;
    // Stops the sound at once and hands back every queued block.
    virtual void reset() = 0;
    // A failure the device met on its own, between calls (it stopped
    // answering, say); 0 while it works. Later writes return it too.
    virtual wave_error failure() { return 0; }
};

// An open input device: 1000 frames/s, 2 channels, S16.
struct wave_input {
    virtual ~wave_input() = default;  // closes the device
    // Starts recording into the block until it is full; later input is dropped.
    virtual wave_error start(const pcm_block& block) = 0;
    // Stops recording; returns the frames recorded into the block so far.
    virtual uint32_t stop() = 0;
    // Stops at once and forgets the block.
    virtual void reset() = 0;
    // A failure the device met on its own (it stopped answering, say); 0
    // while it works.
    virtual wave_error failure() { return 0; }
};

struct wave_probe_result {
    bool output_ok = false;  // some playback device takes 44100 Hz stereo S16
    bool input_ok = false;   // some capture device takes 44100 Hz mono S16
};

struct wave_audio {
    virtual ~wave_audio() = default;
    virtual wave_probe_result probe() = 0;
    virtual wave_error open_output(std::unique_ptr<wave_output>& device) = 0;
    virtual wave_error open_input(std::unique_ptr<wave_input>& device) = 0;
    virtual std::string error_text(wave_error code) = 0;
};

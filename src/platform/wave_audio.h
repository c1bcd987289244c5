#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/wait_handle.h"

// The wave-audio service: 16-bit interleaved stereo PCM, left sample first.
// Devices are polled, never asked to call back.
//
// What the engine relies on from every back end (the simulated one, ALSA,
// WinMM), and what tests/contract checks against each of them:
//
// Opening. An open returns within its answer limit: 0 and a device, or a
// failure whose error_text() says which device and why. A device that does
// not answer in time fails; while an earlier open that did not answer has
// still not come back, a new open fails at once with such a failure rather
// than starting another, so that a long wait keeps one try outstanding at
// most. A call of the service returns within about 0.25 s once an interrupt
// signal is pending (process/exit.h), failing if it had to be cut short.
//
// Output. A block plays once per write, whole and in the order written,
// behind the blocks already queued, at 44100 frames/s: never much faster, and
// never slower than real time while the device works. is_done() tells when
// the device has taken every frame of a block. A device that takes blocks
// but plays none reports it through failure() within device_start_limit_ms
// of the first block after an open or a reset, or within device_stall_limit_ms
// of the last block it played; from then on every block is done, and every
// write fails with the same code, so the caller never waits on a block that
// will not play. reset() stops the sound at once and hands back every block.
// Destroying the device closes it, and never waits on a device that stopped
// answering.
//
// Input. start() records into one block until it is full; stop() gives the
// frames recorded so far. start_ring() records on and on, round a block.
// recorded() counts the frames since either start (after start(), up to the
// block's length; a back end may count them late, but never early). A device
// that is lost while it records (unplugged, its server gone) reports it
// through failure(), once the loss shows; what it recorded before stays
// counted.

// Two 16-bit samples, left first.
inline constexpr uint32_t bytes_per_frame = 4;

// How long an open may take by default before the device counts as not
// answering; a caller that waits for devices may ask for less.
inline constexpr int device_answer_limit_ms = 3000;
// How much sound a caller keeps queued on an output: two one-second blocks,
// or a short queue of small ones for quick keys. The back end sizes its own
// buffering by it.
inline constexpr int long_queue_ms = 2000;
// How long a device may hold blocks without playing any: from the first
// block of a stream (a sink waking up takes seconds), and from the last block
// that played.
inline constexpr int device_start_limit_ms = 6000;
inline constexpr int device_stall_limit_ms = 3000;

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
    // Once every block is done: lets the sound the device still holds play
    // out, for a bounded time, before the stream closes.
    virtual void drain() {}
    // A failure the device met on its own, between calls (it stopped
    // answering, say); 0 while it works. Later writes return it too.
    virtual wave_error failure() = 0;
    // Ready (a counter) once a block is done or the device failed, so that
    // the caller can sleep until then; empty where the device cannot tell,
    // and the caller then looks again within its own deadline.
    virtual wait_handle ready_handle() { return {}; }
    // How often the device ran dry while it played and then played on,
    // where it can tell (an underrun it recovered from); a caller that sees
    // its own queue run out knows of the others.
    virtual uint64_t underruns() { return 0; }
    // How many frames, of those written since the open or the last reset,
    // the device has played by now, as its own clock tells while the sound
    // moves; -1 where it keeps no such clock, or while it cannot tell (the
    // stream has not begun to move, or stands still). A caller may render
    // its next block when the clock says a block has played, before the
    // device hands it back.
    virtual int64_t played_frames() { return -1; }
};

// An open input device: 1000 frames/s, 2 channels, S16.
struct wave_input {
    virtual ~wave_input() = default;  // closes the device
    // Starts recording into the block until it is full; later input is
    // dropped. An empty block records nothing.
    virtual wave_error start(const pcm_block& block) = 0;
    // Stops recording; returns the frames recorded into the block so far.
    virtual uint32_t stop() = 0;
    // Stops at once and forgets the block.
    virtual void reset() = 0;
    // Records on and on into the block, from its start again once it is
    // full, until stop() or reset(): frame n since the start is at n modulo
    // its frames.
    virtual wave_error start_ring(const pcm_block& ring) = 0;
    // Frames recorded since start() or start_ring().
    virtual uint64_t recorded() = 0;
    // A failure the device met on its own (it was lost, it stopped
    // answering); 0 while it works.
    virtual wave_error failure() = 0;
};

struct wave_probe_result {
    bool output_ok = false;  // the output device takes 44100 Hz stereo S16
    bool input_ok = false;   // the input device takes 44100 Hz mono S16
};

enum class wave_direction { output, input };

// One device as the system lists it.
struct wave_device_entry {
    wave_direction direction = wave_direction::output;
    std::string name;         // what --device or --input-device takes
    std::string description;  // a few words for people, on one line
    bool is_default = false;  // the device used when none is named
};

// Devices are named as the user gave them (--device, --input-device);
// nullptr is the system's default device of that direction.
struct wave_audio {
    virtual ~wave_audio() = default;
    // The devices of both directions, outputs first; opens none of them.
    virtual std::vector<wave_device_entry> list_devices() = 0;
    // Whether the named devices take the formats asked for above.
    virtual wave_probe_result probe(const char* output_device, const char* input_device) = 0;
    // answer_limit_ms: how long the open may take, device_answer_limit_ms
    // or less (see above); queue_ms: how much sound the caller keeps queued.
    virtual wave_error open_output(const char* device_name, std::unique_ptr<wave_output>& device,
                                   int answer_limit_ms, int queue_ms) = 0;
    virtual wave_error open_input(const char* device_name, std::unique_ptr<wave_input>& device,
                                  int answer_limit_ms) = 0;
    // Names the device of the failing direction where the code comes from.
    virtual std::string error_text(wave_error code) = 0;
    // Whether its outputs tell how far they have played (played_frames).
    virtual bool outputs_keep_clock() const { return false; }
};

#pragma once

enum class run_mode_kind { pairs, files, dialog, sweep };

// Set while the options are parsed, only read afterwards.
struct run_settings {
    bool square_wave = false;
    bool triangle_wave = false;
    bool octave_shift = false;
    // 0: no left tone; above 0: the left channel's own frequency; below 0:
    // the left channel plays the tone itself (-l=r and -P).
    double left_frequency = 0.0;
    double phase_angle = 0.0;  // degrees, within [-180, 180]
    double left_volume = 0.5;
    double right_volume = 0.5;
    int pulse_frequency = 0;  // 0: steady; else 1..1000 pulses per second
    int pulse_duration = 0;   // seconds at the end of a tone that pulse; 0: all
    run_mode_kind run_mode = run_mode_kind::pairs;
    double sweep_start = 0.0;
    double sweep_end = 0.0;
    double sweep_increment = 0.0;
    int sweep_duration = 180;
    // --output: the sound file the schedule is written to instead of played.
    const char* output_path = nullptr;
    // --wait-for-device: how long a sound device that failed or is missing
    // is waited for before the run gives up; 0: not at all.
    int wait_for_device = 0;
    // --allow-sleep: no sleep inhibitor while tones sound.
    bool allow_sleep = false;
    // --smooth, and --fade, --fade-in and --fade-out, which imply it: the
    // run as one stream of frames; the ramp where sound starts or stops, in
    // milliseconds; the run's rise from silence and fall to it, in seconds.
    bool smooth = false;
    int fade_ms = 10;
    int fade_in_seconds = 0;
    int fade_out_seconds = 0;
    // --device and --input-device: the devices to play on and to capture
    // from, as the user named them; nullptr: the system's default.
    const char* output_device = nullptr;
    const char* input_device = nullptr;
    // --control: the run answers on the control channel, at the place
    // named (nullptr: the default place).
    bool control = false;
    const char* control_address = nullptr;
    // --web: the run serves its page at this address and port ("ADDRESS:PORT",
    // nullptr: 127.0.0.1:8765).
    bool web = false;
    const char* web_address = nullptr;
    // --at and --until: a local time of day, in seconds from midnight, at
    // which the run starts playing and stops; -1: none.
    int start_at = -1;
    int stop_at = -1;
    // --loop: how many times the schedule plays; 0: until --until, q or
    // Ctrl-C.
    int passes = 1;
};

extern run_settings settings;

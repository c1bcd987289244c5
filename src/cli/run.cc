#include "cli/run.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "cli/control_client.h"
#include "cli/file_picker.h"
#include "cli/options.h"
#include "engine/capture/capture.h"
#include "engine/control/control.h"
#include "engine/export/file_export.h"
#include "engine/clock/passes.h"
#include "engine/playing/playback.h"
#include "engine/playing/smooth_playback.h"
#include "engine/playing/start_wait.h"
#include "engine/status/status_line.h"
#include "engine/clock/stop_time.h"
#include "engine/sound/wavetables.h"
#include "log/log.h"
#include "log/terminal_lines.h"
#include "process/exit.h"
#include "process/release.h"
#include "process/settings.h"
#include "process/state.h"
#include "schedule/admission.h"
#include "schedule/duration.h"
#include "schedule/fdt.h"
#include "schedule/frequency_file.h"
#include "schedule/sweep.h"
#include "web/web_server.h"

namespace {

void warn_unless_sound_devices_fit() {
    wave_probe_result probe = current_platform->audio.probe(settings.output_device, settings.input_device);
    if (!probe.output_ok || !probe.input_ok)
        log_err("%s: marginal or nonexistant soundcard detected: trying anyways\n", program_name);
}

void check_positional_arguments(int argc, char** argv, int first) {
    for (int i = first; i < argc; ++i)
        if (argv[i][0] == '-') cleanup_and_exit(usage());
}

void build_from_files(int argc, char** argv, int first) {
    if (first >= argc) cleanup_and_exit(usage());
    log_out("#Frequency, Duration\n");
    for (int i = first; i < argc; ++i) {
        log_out("# %s\n", argv[i]);
        build_status = read_frequency_file(argv[i]);
        if (build_status != 0) break;
    }
}

void build_from_pairs(int argc, char** argv, int first) {
    if (first >= argc) cleanup_and_exit(usage());
    log_out("#Frequency, Duration\n");
    for (int i = first; i < argc; ++i) {
        double frequency = strtod(argv[i], nullptr);
        const char* comma = strchr(argv[i], ',');
        int duration = comma != nullptr ? parse_duration(comma + 1) : default_duration;
        build_status = add_frequency(frequency, duration);
        if (build_status != 0) break;
        check_interrupt();
    }
}

void build_schedule(int argc, char** argv, int first) {
    switch (settings.run_mode) {
    case run_mode_kind::files:
        build_from_files(argc, argv, first);
        break;
    case run_mode_kind::dialog:
        if (first < argc) cleanup_and_exit(usage());
        pick_frequency_files();
        break;
    case run_mode_kind::sweep:
        if (first < argc) cleanup_and_exit(usage());
        log_out("#Frequency, Duration\n");
        build_status = sweep(settings.sweep_start, settings.sweep_end, settings.sweep_increment,
                             settings.sweep_duration);
        break;
    case run_mode_kind::pairs:
        build_from_pairs(argc, argv, first);
        break;
    }
}

void play_pass() {
    // Keys may insert entries and move fdt_pos while an entry plays, so both
    // are read afresh for every entry; fdt_pos wraps from the position before
    // the first entry to 0.
    for (fdt_pos = 0; fdt_pos < num_fdt && !stop_time_has_come(); ++fdt_pos) {
        check_interrupt();
        const fdt_entry entry = fdt[fdt_pos];
        if (entry.text != nullptr)
            log_out("%s", entry.text);
        else
            play_entry(entry.frequency, entry.duration);
    }
}

void play_schedule() {
    if (settings.output_path != nullptr) {
        // A file is put in place only whole: an earlier one of that name is
        // worth more than the part of a schedule that could be read.
        if (build_status != 0) {
            err_printf("%s: %s: not written: the schedule could not be read whole\n", program_name,
                       settings.output_path);
            cleanup_and_exit(1);
        }
        begin_export(settings.output_path);
    }
    wait_for_start_time();
    arm_stop_time();
    if (settings.smooth) {
        if (export_file)
            export_schedule_smoothly();
        else
            play_schedule_smoothly();
        if (export_file) finish_export();
        return;
    }
    do {
        play_pass();
    } while (another_pass());
    if (export_file) finish_export();
}

[[noreturn]] void run_phases(int argc, char** argv) {
    if (asks_to_send(argc, argv)) cleanup_and_exit(send_control_command(argc, argv));
    const bool sounds = run_needs_sound_devices(argc, argv);
    if (sounds) warn_unless_sound_devices_fit();
    // Before -r and -m create their files: a place where the run cannot
    // answer leaves nothing behind.
    if (sounds && (settings.control || settings.web)) start_control();
    // The page's server reaches the run through that place.
    if (sounds && settings.web) start_web();
    int first = parse_options(argc, argv);
    check_positional_arguments(argc, argv, first);
    finish_offsets();
    check_interrupt();
    build_schedule(argc, argv, first);
    flush_records();
    play_schedule();
    cleanup_and_exit(build_status != 0 ? 1 : 0);
}

// Forgets whatever an earlier run in this process left behind.
void reset_run_state(platform& services, FILE* out, FILE* err) {
    reset_all();
    current_platform = &services;
    out_stream = out;
    err_stream = err;
}

}  // namespace

int run_tonquel(int argc, char** argv, platform& services, FILE* out, FILE* err) {
    reset_run_state(services, out, err);
    // Installed first of all, so that Ctrl-C at any moment ends the run
    // through the teardown.
    install_signal_handlers();
    int status = 0;
    try {
        run_phases(argc, argv);
    } catch (const run_exit& exit) {
        status = exit.code;
    } catch (const std::bad_alloc&) {
        // Strings of the chooser and the like: end as the table does.
        clear_terminal_lines();
        err_printf("%s: out of memory\n", program_name);
        try {
            cleanup_and_exit(1);
        } catch (const run_exit& exit) {
            status = exit.code;
        }
    }
    // Every way out leaves the terminal as it was found.
    clear_terminal_lines();
    services.keys.restore();
    remove_signal_handlers();
    fflush(out);
    fflush(err);
    current_platform = nullptr;
    return status;
}

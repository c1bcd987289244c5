#include "cli/options.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/capture/capture.h"
#include "engine/export/file_export.h"
#include "engine/clock/time_of_day.h"
#include "log/log.h"
#include "process/exit.h"
#include "process/settings.h"
#include "process/state.h"
#include "schedule/admission.h"
#include "schedule/duration.h"
#include "web/web_checks.h"

namespace {

constexpr const char* version_format = "%s:\n\tVersion: %s\n\t%s\n\t%s\n";
// Both lines begin with a letter, so a session file holding the block reads
// them back as comments.
constexpr const char* ownership_line = "Written by the tonquel developers; free to use, study and share.";
constexpr const char* contact_line = "Report problems on the tonquel issue tracker.";

constexpr const char* usage_format =
    "Usage: %s -g\n"
    "       %s [X] -f frequency_file [frequency_file [...]]\n"
    "       %s [X] -s sweep_start,sweep_end,sweep_increment,sweep_duration\n"
    "       %s [X] frequency,duration [frequency,duration [...]]\n"
    " where [X] is:\n"
    "       [[-b bracket] ...] [[-o offset] ...] [-v[lr] volume] [-V] [-r] [-S|-T]\n"
    "       [[-e]|[-l frequency]|[-l=r]|[-P angle]] [-m MOR_output_file]\n"
    "       [-p pulse_frequency[,pulse_duration]]\n";

// What --help writes after the usage text. The %s is the list of sound file
// types that --output writes here.
constexpr const char* help_format =
    "       %s --help | --version | --list-devices\n"
    "       %s [--control[=path]] --send command [argument]\n"
    "       %s [--web[=address:port]] [X] ...\n"
    "\n"
    "Plays timed sequences of steady tones through the sound card, one after\n"
    "another, as 16-bit stereo at 44100 frames/s. The right channel always\n"
    "carries the tone.\n"
    "\n"
    "Where the tones come from:\n"
    "  frequency,duration  a tone of that many Hz, from 0 to 20000. The duration\n"
    "                      is in seconds (90) or uses h and m (2m, 1h2m3), at\n"
    "                      most 3600; without one, or with 0, it is 180 s.\n"
    "  -f file...          frequency files, read in turn\n"
    "  -g                  frequency files picked in a file dialog, which opens\n"
    "                      in DATA\n"
    "  -s start,end,step[,duration]\n"
    "                      a sweep from start to end Hz in steps of step Hz,\n"
    "                      each tone lasting duration (180 s without it)\n"
    "\n"
    "Options [X], all before the tones:\n"
    "  -o offset     plays every tone offset Hz higher; each -o gives every tone\n"
    "                once more, at its own offset\n"
    "  -b bracket    plays every tone bracket Hz above and below it\n"
    "  -v volume     the volume of both channels, 0 to 1 (0.5 without it);\n"
    "                -vl and -vr set the left or the right channel only\n"
    "  -S, -T        a square or a triangle wave instead of a sine\n"
    "  -l frequency  the left channel plays this frequency (silent without it)\n"
    "  -l=r          the left channel plays the tone too\n"
    "  -P angle      both channels play the tone, the right one shifted by the\n"
    "                angle in degrees\n"
    "  -e            tones below 20 Hz or above 20000 Hz are moved six octaves\n"
    "                up or two down into hearing range, with a companion tone\n"
    "                on the left\n"
    "  -p pulses[,duration]\n"
    "                switches the tone on and off pulses times a second: its\n"
    "                last duration seconds, or the whole tone\n"
    "  -r            records the session in session_YYYYMMDD_HHMMSS\n"
    "  -m file       captures the sound input during each tone into file\n"
    "  -V            prints the version and goes on\n"
    "  --output file writes the schedule to a sound file instead of playing it,\n"
    "                each tone exactly its duration; the file's ending chooses\n"
    "                the type: %s. Not with -m.\n"
    "  --device name plays on the named output device instead of the default\n"
    "  --input-device name\n"
    "                captures (-m) from the named input device\n"
    "  --list-devices\n"
    "                lists the devices that these two can name, the defaults\n"
    "                marked with *, and ends\n"
    "  --wait-for-device=seconds\n"
    "                when the sound device fails or is missing (a sound server\n"
    "                restarting, a USB card unplugged), waits up to seconds for\n"
    "                it, trying again each second, and goes on with the tone\n"
    "                where it stopped; without it the run ends with status 1\n"
    "  --allow-sleep lets the machine sleep while tones play; without it\n"
    "                tonquel asks the system to stay awake until the run ends\n"
    "  --smooth      plays the run as one stream: each tone exactly its\n"
    "                seconds of frames, the next following without a gap or a\n"
    "                click, a ramp wherever sound starts or stops, keys heard\n"
    "                within about a tenth of a second; --output then writes\n"
    "                exactly what it plays\n"
    "  --fade=ms     the ramp's length, 0 to 1000 ms (10 without it)\n"
    "  --fade-in=duration, --fade-out=duration\n"
    "                the run rises from silence over its first duration, or\n"
    "                falls to silence over its last (30, 5m, 1h), which ends\n"
    "                at --until's time if that comes first; these and --fade\n"
    "                imply --smooth\n"
    "  --control[=path]\n"
    "                while the run plays, it answers on a local socket that\n"
    "                only this user can reach (a named pipe on Windows), one\n"
    "                JSON object per line each way; without a path it is\n"
    "                $XDG_RUNTIME_DIR/tonquel/control. A client that sends no\n"
    "                request for 10 s is closed, unless it observes. Not with\n"
    "                --output.\n"
    "  --web[=address:port]\n"
    "                while the run plays, serves a page that steers it from a\n"
    "                browser (a phone's): what plays, the next tones, and the\n"
    "                buttons Pause, Resume, Skip, Back, +1 Hz, -1 Hz, Quit; at\n"
    "                127.0.0.1:8765 without a value (0.0.0.0:8765 for the LAN).\n"
    "                It prints the address to open, http://HOST:PORT/?key=KEY,\n"
    "                on standard error; the key is kept in\n"
    "                $XDG_CONFIG_HOME/tonquel/web-key, and a browser without it\n"
    "                is refused. Plain HTTP: on a shared network anyone\n"
    "                listening sees the key. Not with --output.\n"
    "  --send command [argument]\n"
    "                sends one command to the run that answers there, prints\n"
    "                what it returns as one JSON line, and ends: status,\n"
    "                schedule, skip, back, pause, resume, toggle, quit, add 1,\n"
    "                add -1, nearby coarse, nearby fine (as the keys, but\n"
    "                pause and resume never toggle, and quit ends a paused\n"
    "                run too), or observe, which prints the run's events\n"
    "                until it ends. status tells the tone, the seconds left\n"
    "                in the run (its passes to come, up to --until; null\n"
    "                for --loop alone), the pass and the passes (null:\n"
    "                endless), and stops_at with --until. It waits at most\n"
    "                3 s for the run to take it, and talks only to a run of\n"
    "                this user's; an answer it cannot read ends it with\n"
    "                status 1\n"
    "  --at=HH:MM[:SS]\n"
    "                waits until that local time, today or else tomorrow,\n"
    "                before the first tone; the bottom line counts down, q,\n"
    "                Ctrl-C and --send quit end the wait, and the other keys\n"
    "                and commands say that they act once the run plays. A\n"
    "                start found past (the clock set, the machine asleep)\n"
    "                plays at once, unless the window up to --until has\n"
    "                closed or, without --until, it is over 12 hours late:\n"
    "                it then waits for the next such time, and says so\n"
    "  --until=HH:MM[:SS]\n"
    "                stops at the next such local time after the first tone,\n"
    "                after --at where its window closes\n"
    "  --loop[=N]    plays the schedule N times, or until --until, q or Ctrl-C,\n"
    "                keeping the tones that keys added; a whole number right\n"
    "                after it is its count (--loop 3). With --output, writes\n"
    "                N passes. --at, --until and --loop alone are not for\n"
    "                --output, nor --fade-out for --loop alone without --until.\n"
    "  --help        prints this text\n"
    "  --version     prints the version\n"
    "\n"
    "Keys while a tone plays:\n"
    "  + or -        adds a tone 1 Hz above or below, after the playing one\n"
    "  n or N        adds nearby tones 1 to 3 Hz around it, or finer steps\n"
    "  s, down arrow skips to the next tone\n"
    "  b, up arrow   goes back to the previous tone\n"
    "  p             pauses until the next key\n"
    "  q             quits; so does Ctrl-C\n"
    "Added tones last 180 s. On a terminal, the bottom line shows the playing\n"
    "tone, its time, its place in the schedule and the time left.\n"
    "\n"
    "A frequency file holds one frequency,duration per line, as on the command\n"
    "line; every line, the last too, ends with a line end. A line whose first\n"
    "character after blanks is not a digit or a sign is a comment, printed\n"
    "when the schedule reaches it.\n"
    "\n"
    "The session file (-r) records the run: every tone line as it starts, and\n"
    "every key's action and message as a comment, so it plays again with -f.\n"
    "The MOR file (-m) has one line per frame captured at 1000 frames/s during\n"
    "the first 10 s of each tone: the frequency, the frame number, the left\n"
    "and the right sample.\n"
    "\n"
    "Exit status: 0 when the schedule played through, also after q or Ctrl-C;\n"
    "1 after an error, and after Ctrl-C stops --output; 2 after a usage error.\n"
    "\n"
    "Examples:\n"
    "  %s 440,2m 528,90\n"
    "      440 Hz for two minutes, then 528 Hz for 90 s\n"
    "  %s -r -b 5 -f DATA/demo.txt\n"
    "      the tones of the file, 5 Hz above and below each, recorded\n"
    "  %s --output sweep.flac -s 100,200,10,5\n"
    "      a sweep of 5 s tones from 100 to 200 Hz, written to a FLAC file\n";

char version_buffer[256];

[[noreturn]] void usage_error() {
    cleanup_and_exit(usage());
}

// The cursor over argv while the options are read.
struct option_reader {
    int argc;
    char** argv;
    int index;

    const char* attached() const { return argv[index] + 2; }
    bool has_attached() const { return attached()[0] != '\0'; }

    void reject_attached() const {
        if (has_attached()) usage_error();
    }

    // The text after the letter, or else the whole next argument.
    const char* value() {
        if (has_attached()) return attached();
        return next_argument();
    }

    const char* next_argument() {
        if (index + 1 >= argc) usage_error();
        return argv[++index];
    }
};

double to_double(const char* text) {
    return strtod(text, nullptr);
}

// Brings an angle into [-180, 180] as repeatedly adding or subtracting 360
// would, in one exact remainder step, so that a huge angle cannot stall.
double normalise_angle(double angle) {
    if (!std::isfinite(angle)) usage_error();
    if (angle < -180.0) {
        angle = std::fmod(angle, 360.0);
        if (angle < -180.0) angle += 360.0;
    } else if (angle > 180.0) {
        angle = std::fmod(angle, 360.0);
        if (angle > 180.0) angle -= 360.0;
    }
    return angle;
}

void add_offset_or_exit(double value) {
    if (add_offset(value) == -1) cleanup_and_exit(1);
}

void parse_pulse(const char* value) {
    int frequency = read_int(value);
    if (frequency < 1) frequency = 1;
    if (frequency > 1000) frequency = 1000;
    settings.pulse_frequency = frequency;
    const char* comma = strchr(value, ',');
    settings.pulse_duration = comma != nullptr ? parse_duration(comma + 1) : 0;
}

void parse_volume(option_reader& reader) {
    enum { both, left, right } target = both;
    const char* text = nullptr;
    char first = reader.attached()[0];
    if (first == 'l') {
        target = left;
    } else if (first == 'r') {
        target = right;
    } else if (first >= '0' && first <= '9') {
        text = reader.attached();
    } else if (first != '\0') {
        usage_error();
    }
    if (text == nullptr) text = reader.next_argument();

    double volume = to_double(text);
    if (!(volume >= 0.0 && volume <= 1.0)) {
        log_err("%s: volume %g %s\n", program_name, volume, "is out of the range 0.0 to 1.0");
        cleanup_and_exit(1);
    }
    if (target != right) settings.left_volume = volume;
    if (target != left) settings.right_volume = volume;
}

void parse_sweep(const char* value) {
    const char* first_comma = strchr(value, ',');
    if (first_comma == nullptr) usage_error();
    settings.sweep_start = to_double(value);
    const char* second_comma = strchr(first_comma + 1, ',');
    if (second_comma == nullptr) usage_error();
    settings.sweep_end = to_double(first_comma + 1);
    settings.sweep_increment = to_double(second_comma + 1);
    const char* third_comma = strchr(second_comma + 1, ',');
    settings.sweep_duration = third_comma != nullptr ? parse_duration(third_comma + 1) : 180;
}

[[noreturn]] void help() {
    record_printf(out_stream, out_record, usage_format, program_name, program_name, program_name, program_name);
    std::string types = export_type_list();
    if (types.empty()) types = "none on this system";
    record_printf(out_stream, out_record, help_format, program_name, program_name, program_name, types.c_str(),
                  program_name, program_name, program_name);
    cleanup_and_exit(0);
}

void print_devices(const std::vector<wave_device_entry>& devices, wave_direction direction, const char* heading) {
    int width = 0;
    for (const wave_device_entry& device : devices)
        if (device.name.size() > static_cast<size_t>(width)) width = static_cast<int>(device.name.size());
    // Through the record of standard output, as --help is: after the lines
    // before it (-V), and a failed write ends the run with status 1.
    record_printf(out_stream, out_record, "%s", heading);
    for (const wave_device_entry& device : devices) {
        if (device.direction != direction) continue;
        record_printf(out_stream, out_record, "%c %-*s  %s\n", device.is_default ? '*' : ' ', width,
                      device.name.c_str(), device.description.c_str());
    }
}

// The names that --device and --input-device take, with what they are.
[[noreturn]] void list_devices() {
    const std::vector<wave_device_entry> devices = current_platform->audio.list_devices();
    print_devices(devices, wave_direction::output, "Playback devices, for --device (* the default):\n");
    print_devices(devices, wave_direction::input, "Capture devices, for --input-device (* the default):\n");
    cleanup_and_exit(0);
}

// What an option takes after its letter.
enum class option_value {
    none_strict,  // nothing; attached text is a usage error
    none,         // nothing; attached text is ignored
    text,         // the attached text, or else the whole next argument
    volume,       // as -v reads it (parse_volume)
};

// One short option: its letter, its value and its action, which gets the
// value (nullptr for none and volume). Each action checks only what earlier
// options set.
struct short_option {
    char letter;
    option_value value;
    void (*apply)(option_reader& reader, const char* value);
};

constexpr short_option short_options[] = {
    {'S', option_value::none_strict,
     [](option_reader&, const char*) {
         if (settings.triangle_wave) usage_error();
         settings.square_wave = true;
     }},
    {'T', option_value::none_strict,
     [](option_reader&, const char*) {
         if (settings.square_wave) usage_error();
         settings.triangle_wave = true;
     }},
    {'f', option_value::none_strict,
     [](option_reader&, const char*) {
         if (settings.run_mode == run_mode_kind::dialog || settings.run_mode == run_mode_kind::sweep) usage_error();
         settings.run_mode = run_mode_kind::files;
     }},
    {'g', option_value::none_strict,
     [](option_reader&, const char*) {
         if (settings.run_mode == run_mode_kind::files || settings.run_mode == run_mode_kind::sweep) usage_error();
         settings.run_mode = run_mode_kind::dialog;
     }},
    {'s', option_value::text,
     [](option_reader&, const char* value) {
         if (settings.run_mode == run_mode_kind::files || settings.run_mode == run_mode_kind::dialog) usage_error();
         settings.run_mode = run_mode_kind::sweep;
         parse_sweep(value);
     }},
    {'r', option_value::none,
     [](option_reader&, const char*) {
         if (session_file != nullptr) usage_error();
         open_session_file();
     }},
    {'m', option_value::text,
     [](option_reader&, const char* value) {
         // No capture while exporting: no device is opened.
         if (mor_file != nullptr || settings.output_path != nullptr) usage_error();
         open_mor_file(value);
     }},
    {'b', option_value::text,
     [](option_reader&, const char* value) {
         double bracket = to_double(value);
         add_offset_or_exit(bracket);
         add_offset_or_exit(-bracket);
     }},
    {'o', option_value::text, [](option_reader&, const char* value) { add_offset_or_exit(to_double(value)); }},
    {'l', option_value::text,
     [](option_reader&, const char* value) {
         if (settings.octave_shift || settings.phase_angle != 0.0) usage_error();
         settings.left_frequency = strcmp(value, "=r") == 0 ? -1.0 : to_double(value);
     }},
    {'P', option_value::text,
     [](option_reader&, const char* value) {
         if (settings.octave_shift || settings.left_frequency != 0.0) usage_error();
         settings.phase_angle = normalise_angle(to_double(value));
         settings.left_frequency = -1.0;
     }},
    {'e', option_value::none,
     [](option_reader&, const char*) {
         if (settings.left_frequency != 0.0 || settings.phase_angle != 0.0) usage_error();
         settings.octave_shift = true;
     }},
    {'p', option_value::text, [](option_reader&, const char* value) { parse_pulse(value); }},
    {'v', option_value::volume, [](option_reader& reader, const char*) { parse_volume(reader); }},
    {'V', option_value::none, [](option_reader&, const char*) { log_out("%s", version_block()); }},
};

// The long option being read, as it was written ("--at=25:00", "--output
// x.wav"), for the line that says what was wrong with it.
std::string option_in_hand;

// A usage error of one of the long options: one line that names the option
// and what was wrong, then the usage text as for every usage error.
[[noreturn]] void long_option_error(const std::string& what) {
    err_printf("%s: %s: %s\n", program_name, option_in_hand.c_str(), what.c_str());
    usage_error();
}

// A whole number from 0 to most, digits only: --wait-for-device's seconds,
// --fade's milliseconds, --loop's passes. -1 for anything else.
long long whole_number(const char* value, long long most) {
    if (value[0] < '0' || value[0] > '9') return -1;
    char* end = nullptr;
    errno = 0;
    const long long number = strtoll(value, &end, 10);
    if (*end != '\0' || errno != 0 || number > most) return -1;
    return number;
}

bool all_digits(const char* text) {
    return text[0] != '\0' && strspn(text, "0123456789") == strlen(text);
}

// A duration as tones take it (30, 5m, 1h2m3), of a second or more: the
// digits and markers alone, so that a slip is told rather than read as 0.
int fade_seconds(const char* value) {
    const bool written_so = value[0] >= '0' && value[0] <= '9' && strspn(value, "0123456789hHmM") == strlen(value);
    const int seconds = written_so ? parse_duration(value) : 0;
    if (seconds < 1) long_option_error("not a duration of a second or more (30, 5m, 1h2m3)");
    return seconds;
}

// --at's and --until's "HH:MM[:SS]".
int time_of_day_value(const char* value) {
    const int seconds = parse_time_of_day(value);
    if (seconds < 0) long_option_error("not a time of day (HH:MM or HH:MM:SS)");
    return seconds;
}

// --loop's passes: 1 or more.
int passes_value(const char* value) {
    const long long passes = whole_number(value, INT_MAX);
    if (passes < 1) long_option_error("not a number of passes (1 or more)");
    return static_cast<int>(passes);
}

// An export runs off the clock: it neither waits for a time, nor stops at
// one, nor plays for ever.
bool runs_by_the_clock() {
    return settings.start_at >= 0 || settings.stop_at >= 0 || settings.passes == 0;
}

// The value of --device or --input-device into its setting.
void choose_device(const char* run_settings::*setting, const char* name) {
    if (name[0] == '\0') long_option_error("no device named");
    settings.*setting = name;
}

// --fade-out as written, for the check once every early option is read.
std::string fade_out_given;

// A fall to silence needs an end to fall to: the last of a counted --loop, or
// --until, whatever their order on the line.
void check_fade_out_has_an_end() {
    if (settings.fade_out_seconds == 0 || settings.passes != 0 || settings.stop_at >= 0) return;
    option_in_hand = fade_out_given;
    long_option_error("an endless --loop has no end to fall to: give --loop=N or --until");
}

// One long option, given as --name, --name=value or --name value.
struct long_option {
    const char* name;
    bool takes_value;
    // The run ends without sound or opens no device: no start-up probe.
    bool needs_no_sound_devices;
    void (*apply)(const char* value);
    // The setting that names a sound device: the pre-scan fills it in too,
    // so that the start-up probe looks at the devices the run will use.
    const char* run_settings::*device = nullptr;
    // The value may be left out, and is then never the next argument...
    bool value_optional = false;
    // ...unless the next argument is all digits: a count (--loop 3).
    bool count_may_follow = false;
    // The pre-scan applies it too, before any option acts: the control
    // channel is set up before -r or -m create their files.
    bool applied_early = false;
    // Read before every other option (read_early_options), so that a bad
    // value ends the run before -r or -m create their files.
    bool early = false;
};

// --control or --control=PATH; nothing plays with --output.
void choose_control(const char* address) {
    if (address != nullptr && address[0] == '\0') long_option_error("no path given");
    if (settings.output_path != nullptr) long_option_error("not with --output, which plays nothing");
    settings.control = true;
    settings.control_address = address;
}

// --web or --web=ADDRESS:PORT; nothing plays with --output.
void choose_web(const char* address) {
    if (address != nullptr) {
        std::string host;
        uint16_t port = 0;
        const std::string error = split_web_address(address, host, port);
        if (!error.empty()) long_option_error(error.c_str());
    }
    if (settings.output_path != nullptr) long_option_error("not with --output, which plays nothing");
    settings.web = true;
    settings.web_address = address;
}

void choose_output(const char* path) {
    if (path[0] == '\0') long_option_error("no file named");
    if (settings.output_path != nullptr) long_option_error("given twice");
    if (mor_file != nullptr) long_option_error("not with -m: an export opens no sound device");
    if (settings.control) long_option_error("not with --control: an export plays nothing to control");
    if (settings.web) long_option_error("not with --web: an export plays nothing to control");
    if (runs_by_the_clock())
        long_option_error("not with --at, --until or --loop without a count: an export runs off the clock");
    check_export_type(path);
    settings.output_path = path;
}

int milliseconds_of_fade(const char* value) {
    const long long ms = whole_number(value, 1000);
    if (ms < 0) long_option_error("not a whole number of milliseconds from 0 to 1000");
    return static_cast<int>(ms);
}

constexpr long_option long_options[] = {
    {"help", false, true, [](const char*) { help(); }},
    {"version", false, true,
     [](const char*) {
         record_printf(out_stream, out_record, "%s", version_block());
         cleanup_and_exit(0);
     }},
    {"output", true, true, choose_output},
    {"wait-for-device", true, false,
     [](const char* value) {
         const long long seconds = whole_number(value, INT_MAX);
         if (seconds < 0) long_option_error("not a whole number of seconds");
         settings.wait_for_device = static_cast<int>(seconds);
     }},
    {"smooth", false, false, [](const char*) { settings.smooth = true; }},
    {"fade", true, false,
     [](const char* value) {
         settings.fade_ms = milliseconds_of_fade(value);
         settings.smooth = true;
     }},
    {"fade-in", true, false,
     [](const char* value) {
         settings.fade_in_seconds = fade_seconds(value);
         settings.smooth = true;
     }},
    {.name = "fade-out", .takes_value = true, .needs_no_sound_devices = false,
     .apply =
         [](const char* value) {
             settings.fade_out_seconds = fade_seconds(value);
             fade_out_given = option_in_hand;
             settings.smooth = true;
         },
     .early = true},
    {"allow-sleep", false, false, [](const char*) { settings.allow_sleep = true; }},
    {"device", true, false, [](const char* name) { choose_device(&run_settings::output_device, name); },
     &run_settings::output_device},
    {"input-device", true, false, [](const char* name) { choose_device(&run_settings::input_device, name); },
     &run_settings::input_device},
    {"list-devices", false, true, [](const char*) { list_devices(); }},
    {.name = "control", .takes_value = true, .needs_no_sound_devices = false, .apply = choose_control,
     .value_optional = true, .applied_early = true},
    {.name = "web", .takes_value = true, .needs_no_sound_devices = false, .apply = choose_web,
     .value_optional = true, .applied_early = true},
    {.name = "at", .takes_value = true, .needs_no_sound_devices = false,
     .apply = [](const char* value) { settings.start_at = time_of_day_value(value); }, .early = true},
    {.name = "until", .takes_value = true, .needs_no_sound_devices = false,
     .apply = [](const char* value) { settings.stop_at = time_of_day_value(value); }, .early = true},
    {.name = "loop", .takes_value = true, .needs_no_sound_devices = false,
     .apply = [](const char* value) { settings.passes = value != nullptr ? passes_value(value) : 0; },
     .value_optional = true, .count_may_follow = true, .early = true},
};

const short_option* find_short_option(char letter) {
    for (const short_option& option : short_options)
        if (option.letter == letter) return &option;
    return nullptr;
}

// The long option that argument ("--...") names, or nullptr when it names
// none; one that takes no value and is given one is a usage error.
const long_option* find_long_option(const char* argument) {
    const char* name = argument + 2;
    for (const long_option& option : long_options) {
        const size_t length = strlen(option.name);
        if (strncmp(name, option.name, length) != 0) continue;
        if (name[length] == '\0') return &option;
        if (name[length] != '=') continue;
        if (option.takes_value) return &option;
        option_in_hand = argument;
        long_option_error("takes no value");
    }
    return nullptr;
}

// Steps over one long option at reader.index and the argument it takes as
// its value, if any: the value after "=", or else the next argument where
// the option takes one and may not be left out (or where it is a count that
// may follow); nullptr for none. Keeps the option as written for its
// messages.
const char* step_over_long_option(option_reader& reader, const long_option& option) {
    const char* argument = reader.argv[reader.index];
    option_in_hand = argument;
    if (const char* equals = strchr(argument, '='); equals != nullptr) return equals + 1;
    const bool next_is_value =
        option.takes_value && (!option.value_optional || (option.count_may_follow && reader.index + 1 < reader.argc &&
                                                          all_digits(reader.argv[reader.index + 1])));
    if (!next_is_value) return nullptr;
    if (reader.index + 1 >= reader.argc) long_option_error("needs a value");
    const char* value = reader.argv[++reader.index];
    option_in_hand = option_in_hand + " " + value;
    return value;
}

[[noreturn]] void unknown_long_option(const char* argument) {
    option_in_hand = argument;
    long_option_error("not an option (tonquel --help lists them)");
}

// Any long option not in the table, and "--" alone, is a usage error.
void parse_long_option(option_reader& reader) {
    const long_option* option = find_long_option(reader.argv[reader.index]);
    if (option == nullptr) unknown_long_option(reader.argv[reader.index]);
    const char* value = step_over_long_option(reader, *option);
    if (!option->early) option->apply(value);
}

// Steps over one option and the arguments it takes as parse_options does,
// without acting on it: the long option (nullptr for a short one) and its
// value. False after the last option, and where parse_options stops with a
// usage error.
bool scan_option(option_reader& reader, const long_option*& option, const char*& value) {
    option = nullptr;
    value = nullptr;
    if (reader.index >= reader.argc || reader.argv[reader.index][0] != '-') return false;
    const char* argument = reader.argv[reader.index];
    if (argument[1] == '-') {
        option = find_long_option(argument);
        if (option == nullptr) return false;
        value = step_over_long_option(reader, *option);
        return true;
    }
    const short_option* short_one = find_short_option(argument[1]);
    if (short_one == nullptr) return false;
    if (short_one->value == option_value::text && !reader.has_attached()) ++reader.index;
    if (short_one->value == option_value::volume) {
        const char first = reader.attached()[0];
        if (first == 'l' || first == 'r' || first == '\0') ++reader.index;
        else if (first < '0' || first > '9') return false;
    }
    return true;
}

void read_early_options(int argc, char** argv) {
    option_reader reader{argc, argv, 1};
    const long_option* option = nullptr;
    const char* value = nullptr;
    for (; scan_option(reader, option, value); ++reader.index)
        if (option != nullptr && option->early) option->apply(value);
    check_fade_out_has_an_end();
}

void parse_option(option_reader& reader) {
    const char letter = reader.argv[reader.index][1];
    if (letter == '-') {
        parse_long_option(reader);
        return;
    }
    const short_option* option = find_short_option(letter);
    if (option == nullptr) usage_error();
    const char* value = nullptr;
    if (option->value == option_value::none_strict) reader.reject_attached();
    if (option->value == option_value::text) value = reader.value();
    option->apply(reader, value);
}

}  // namespace

const char* version_block() {
    snprintf(version_buffer, sizeof version_buffer, version_format, program_name, program_version,
             ownership_line, contact_line);
    return version_buffer;
}

int usage() {
    err_printf("%s", version_block());
    err_printf(usage_format, program_name, program_name, program_name, program_name);
    return 2;
}

bool run_needs_sound_devices(int argc, char** argv) {
    option_reader reader{argc, argv, 1};
    const long_option* option = nullptr;
    const char* value = nullptr;
    for (; scan_option(reader, option, value); ++reader.index) {
        if (option == nullptr) continue;
        if (option->needs_no_sound_devices) return false;
        // An empty name is the parser's usage error.
        if (option->device != nullptr && value != nullptr && value[0] != '\0') settings.*option->device = value;
        if (option->applied_early) option->apply(value);
    }
    return true;
}

int parse_options(int argc, char** argv) {
    read_early_options(argc, argv);
    option_reader reader{argc, argv, 1};
    for (; reader.index < argc && argv[reader.index][0] == '-'; ++reader.index) parse_option(reader);
    return reader.index;
}

#include "cli/options.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/exit.h"
#include "cli/run.h"
#include "cli/settings.h"
#include "engine/capture.h"
#include "engine/file_export.h"
#include "log/log.h"
#include "schedule/admission.h"
#include "schedule/duration.h"

namespace {

constexpr const char* version_text = "1.13";
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
    "       %s --help | --version\n"
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
    record_printf(out_stream, out_record, help_format, program_name, types.c_str(), program_name, program_name,
                  program_name);
    cleanup_and_exit(0);
}

// The value of --output FILE or --output=FILE; nullptr for any other text.
const char* output_value(option_reader& reader) {
    const char* name = reader.argv[reader.index] + 2;
    if (strcmp(name, "output") == 0) return reader.next_argument();
    if (strncmp(name, "output=", 7) == 0) return name + 7;
    return nullptr;
}

// Only these three; any other long option, and "--" alone, is a usage error.
void parse_long_option(option_reader& reader) {
    const char* name = reader.argv[reader.index] + 2;
    if (strcmp(name, "help") == 0) help();
    if (strcmp(name, "version") == 0) {
        record_printf(out_stream, out_record, "%s", version_block());
        cleanup_and_exit(0);
    }
    const char* path = output_value(reader);
    if (path == nullptr || path[0] == '\0' || settings.output_path != nullptr || mor_file != nullptr) usage_error();
    check_export_type(path);
    settings.output_path = path;
}

void parse_option(option_reader& reader) {
    run_settings& s = settings;
    switch (reader.argv[reader.index][1]) {
    case 'S':
        reader.reject_attached();
        if (s.triangle_wave) usage_error();
        s.square_wave = true;
        break;
    case 'T':
        reader.reject_attached();
        if (s.square_wave) usage_error();
        s.triangle_wave = true;
        break;
    case 'f':
        reader.reject_attached();
        if (s.run_mode == run_mode_kind::dialog || s.run_mode == run_mode_kind::sweep) usage_error();
        s.run_mode = run_mode_kind::files;
        break;
    case 'g':
        reader.reject_attached();
        if (s.run_mode == run_mode_kind::files || s.run_mode == run_mode_kind::sweep) usage_error();
        s.run_mode = run_mode_kind::dialog;
        break;
    case 's':
        if (s.run_mode == run_mode_kind::files || s.run_mode == run_mode_kind::dialog) usage_error();
        s.run_mode = run_mode_kind::sweep;
        parse_sweep(reader.value());
        break;
    case 'r':
        if (session_file != nullptr) usage_error();
        open_session_file();
        break;
    case 'm':
        // No capture while exporting: no device is opened.
        if (mor_file != nullptr || s.output_path != nullptr) usage_error();
        open_mor_file(reader.value());
        break;
    case 'b': {
        double bracket = to_double(reader.value());
        add_offset_or_exit(bracket);
        add_offset_or_exit(-bracket);
        break;
    }
    case 'o':
        add_offset_or_exit(to_double(reader.value()));
        break;
    case 'l': {
        if (s.octave_shift || s.phase_angle != 0.0) usage_error();
        const char* value = reader.value();
        s.left_frequency = strcmp(value, "=r") == 0 ? -1.0 : to_double(value);
        break;
    }
    case 'P':
        if (s.octave_shift || s.left_frequency != 0.0) usage_error();
        s.phase_angle = normalise_angle(to_double(reader.value()));
        s.left_frequency = -1.0;
        break;
    case 'e':
        if (s.left_frequency != 0.0 || s.phase_angle != 0.0) usage_error();
        s.octave_shift = true;
        break;
    case 'p':
        parse_pulse(reader.value());
        break;
    case 'v':
        parse_volume(reader);
        break;
    case 'V':
        log_out("%s", version_block());
        break;
    case '-':
        parse_long_option(reader);
        break;
    default:
        usage_error();
    }
}

}  // namespace

const char* version_block() {
    snprintf(version_buffer, sizeof version_buffer, version_format, program_name, version_text,
             ownership_line, contact_line);
    return version_buffer;
}

int usage() {
    err_printf("%s", version_block());
    err_printf(usage_format, program_name, program_name, program_name, program_name);
    return 2;
}

bool run_needs_sound_devices(int argc, char** argv) {
    // Steps over the options as parse_options does, without acting on them.
    option_reader reader{argc, argv, 1};
    for (; reader.index < argc && argv[reader.index][0] == '-'; ++reader.index) {
        const char* argument = argv[reader.index];
        switch (argument[1]) {
        case 's':
        case 'm':
        case 'b':
        case 'o':
        case 'l':
        case 'P':
        case 'p':
            if (!reader.has_attached()) ++reader.index;
            break;
        case 'v': {
            const char first = reader.attached()[0];
            if (first == 'l' || first == 'r' || first == '\0') ++reader.index;
            else if (first < '0' || first > '9') return true;
            break;
        }
        case 'S':
        case 'T':
        case 'f':
        case 'g':
        case 'r':
        case 'e':
        case 'V':
            break;
        case '-': {
            const char* name = argument + 2;
            return strcmp(name, "help") != 0 && strcmp(name, "version") != 0 && strcmp(name, "output") != 0 &&
                   strncmp(name, "output=", 7) != 0;
        }
        default:
            return true;
        }
    }
    return true;
}

int parse_options(int argc, char** argv) {
    option_reader reader{argc, argv, 1};
    for (; reader.index < argc && argv[reader.index][0] == '-'; ++reader.index) parse_option(reader);
    return reader.index;
}

#include "cli/options.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "cli/exit.h"
#include "cli/settings.h"
#include "engine/capture.h"
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
        if (mor_file != nullptr) usage_error();
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
    fprintf(err_stream, "%s", version_block());
    fprintf(err_stream, usage_format, program_name, program_name, program_name, program_name);
    return 2;
}

int parse_options(int argc, char** argv) {
    option_reader reader{argc, argv, 1};
    for (; reader.index < argc && argv[reader.index][0] == '-'; ++reader.index) parse_option(reader);
    return reader.index;
}

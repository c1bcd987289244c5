// Measures recorded audio for the system tests; the shell scripts judge the
// numbers. Built by the scripts with plain g++, standard library only.
//
//   audio_analyse segments RAW      steady tones per channel:
//                                   "CHANNEL FREQ START_S LENGTH_S PEAK"
//   audio_analyse levels RAW [FROM_S TO_S]
//                                   "CHANNEL MIN MAX" over the whole file or
//                                   the stretch between the two times
//   audio_analyse gate RAW CHANNEL  on/off runs of a gated tone:
//                                   "ON_RUNS OFF_RUNS ON_MEDIAN OFF_MEDIAN"
//   audio_analyse harmonics RAW CHANNEL FREQ
//                                   amplitude of harmonics 1..5 relative to
//                                   the fundamental, one second from the
//                                   middle of the sound: "R1 R2 R3 R4 R5"
//   audio_analyse gaps RAW CHANNEL  dropouts inside a steady loud tone: runs
//                                   of 3 or more near-silent samples between
//                                   its first and last sound: "GAPS LONGEST_MS"
//   audio_analyse mor FILE          per block of the MOR output file:
//                                   "FREQ LINES CONTIGUOUS LEFT_ZC/S RIGHT_ZC/S"
//   audio_analyse contains RAW EXPECTED_RAW
//                                   the expected sound found in the recording,
//                                   both lined up at their first sound:
//                                   "START_S FRAMES DIFFERING_FRAMES SOUND_S
//                                   LARGEST_STEP" (the recording's sound from
//                                   its first to its last loud frame, and its
//                                   largest step between neighbouring samples)
//
// RAW files are s16le stereo at 44100 frames/s, as parec records them.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr double rate = 44100.0;
constexpr std::size_t window = 2205;  // 50 ms
constexpr int silence_level = 64;

using channel_samples = std::vector<int16_t>;

struct stereo {
    channel_samples left;
    channel_samples right;
};

bool load_raw(const char* path, stereo& out) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "audio_analyse: cannot read %s\n", path);
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::size_t frames = bytes.size() / 4;
    out.left.resize(frames);
    out.right.resize(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        std::memcpy(&out.left[i], &bytes[4 * i], 2);
        std::memcpy(&out.right[i], &bytes[4 * i + 2], 2);
    }
    return true;
}

const channel_samples* pick(const stereo& audio, const std::string& name) {
    if (name == "left") return &audio.left;
    if (name == "right") return &audio.right;
    std::fprintf(stderr, "audio_analyse: channel must be left or right\n");
    return nullptr;
}

// Frequency from rising zero crossings, interpolated between samples; 0 when
// there are fewer than two crossings.
double crossing_frequency(const channel_samples& s, std::size_t begin, std::size_t end) {
    double first = -1.0;
    double last = -1.0;
    int count = 0;
    for (std::size_t i = begin + 1; i < end; ++i) {
        if (s[i - 1] < 0 && s[i] >= 0) {
            const double fraction = -double(s[i - 1]) / (double(s[i]) - double(s[i - 1]));
            const double at = double(i - 1) + fraction;
            if (count == 0) first = at;
            last = at;
            ++count;
        }
    }
    if (count < 2 || last <= first) return 0.0;
    return double(count - 1) * rate / (last - first);
}

int peak(const channel_samples& s, std::size_t begin, std::size_t end) {
    int result = 0;
    for (std::size_t i = begin; i < end; ++i) result = std::max(result, std::abs(int(s[i])));
    return result;
}

// Windows of 50 ms, each silent or with a frequency; neighbouring windows
// within 2% of each other make one segment. Windows that straddle a change
// of tone come out as short segments, which are left out. Up to six
// windows that break a steady tone whose pitch goes on after them are a
// glitch of the sound server or of the recorder, not a change of tone: they
// stay in the segment, said on standard error (the gaps command judges
// dropouts). A busy machine that starves PipeWire's ALSA plugin, whose thread
// runs in the player's process, breaks a tone by 150 ms with the player's own
// ring full, and tonquel's tones last a second or more.
void print_segments(const char* name, const channel_samples& s) {
    struct segment {
        double frequency_sum = 0.0;
        std::size_t windows = 0;  // those that give the mean
        std::size_t start = 0;
        int peak = 0;
        std::size_t glitches = 0;  // windows inside it that do not
    };
    auto flush = [&](const segment& seg) {
        if (seg.windows < 4) return;
        std::printf("%s %.3f %.3f %.3f %d\n", name, seg.frequency_sum / double(seg.windows),
                    double(seg.start) / rate, double((seg.windows + seg.glitches) * window) / rate, seg.peak);
    };
    auto frequency_at = [&](std::size_t at) {
        return peak(s, at, at + window) < silence_level ? 0.0 : crossing_frequency(s, at, at + window);
    };
    auto continues = [](const segment& seg, double frequency) {
        return seg.windows > 0 && frequency > 0.0 &&
               std::fabs(frequency - seg.frequency_sum / double(seg.windows)) < 0.02 * frequency;
    };
    constexpr std::size_t max_glitch = 6;
    segment current;
    for (std::size_t at = 0; at + window <= s.size(); at += window) {
        const int level = peak(s, at, at + window);
        const double frequency = frequency_at(at);
        if (continues(current, frequency)) {
            current.frequency_sum += frequency;
            ++current.windows;
            current.peak = std::max(current.peak, level);
            continue;
        }
        std::size_t glitch = 1;
        while (glitch <= max_glitch && at + (glitch + 1) * window <= s.size() &&
               !continues(current, frequency_at(at + glitch * window)))
            ++glitch;
        if (current.windows >= 4 && glitch <= max_glitch && at + (glitch + 1) * window <= s.size()) {
            std::fprintf(stderr, "audio_analyse: %s: a glitch of %.0f ms at %.3f s inside the %.0f Hz tone\n", name,
                         double(glitch * window) * 1000.0 / rate, double(at) / rate,
                         current.frequency_sum / double(current.windows));
            current.glitches += glitch;
            at += (glitch - 1) * window;
            continue;
        }
        flush(current);
        current = segment{};
        if (frequency > 0.0) {
            current = segment{frequency, 1, at, level};
        }
    }
    flush(current);
}

void print_levels(const char* name, const channel_samples& s, std::size_t begin,
                  std::size_t end) {
    end = std::min(end, s.size());
    int low = 0;
    int high = 0;
    if (begin < end) {
        low = *std::min_element(s.begin() + long(begin), s.begin() + long(end));
        high = *std::max_element(s.begin() + long(begin), s.begin() + long(end));
    }
    std::printf("%s %d %d\n", name, low, high);
}

// A gap is a run of at least 20 near-zero samples; a sine at audible pitch
// passes through zero far quicker than that.
void print_gate(const channel_samples& s) {
    constexpr std::size_t min_gap = 20;
    std::vector<std::size_t> on_runs;
    std::vector<std::size_t> off_runs;
    std::size_t first = 0;
    while (first < s.size() && std::abs(int(s[first])) <= 2) ++first;  // lead-in
    std::size_t last = s.size();
    while (last > first && std::abs(int(s[last - 1])) <= 2) --last;  // tail
    std::size_t run_start = first;
    std::size_t quiet = 0;
    for (std::size_t i = first; i < last; ++i) {
        if (std::abs(int(s[i])) <= 2) {
            ++quiet;
            continue;
        }
        if (quiet >= min_gap) {
            on_runs.push_back(i - quiet - run_start);
            off_runs.push_back(quiet);
            run_start = i;
        }
        quiet = 0;
    }
    if (last > run_start) on_runs.push_back(last - run_start);
    auto median = [](std::vector<std::size_t> v) -> std::size_t {
        if (v.empty()) return 0;
        std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    std::printf("%zu %zu %zu %zu\n", on_runs.size(), off_runs.size(), median(on_runs),
                median(off_runs));
}

double goertzel_amplitude(const channel_samples& s, std::size_t begin, std::size_t count,
                          double frequency) {
    const double w = 2.0 * M_PI * frequency / rate;
    const double coefficient = 2.0 * std::cos(w);
    double s1 = 0.0;
    double s2 = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const double s0 = double(s[begin + i]) + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return std::sqrt(std::max(power, 0.0)) * 2.0 / double(count);
}

int print_harmonics(const channel_samples& s, double frequency) {
    std::size_t first = 0;
    while (first < s.size() && std::abs(int(s[first])) < silence_level) ++first;
    std::size_t last = s.size();
    while (last > first && std::abs(int(s[last - 1])) < silence_level) --last;
    const std::size_t count = 44100;
    if (last - first < count) {
        std::fprintf(stderr, "audio_analyse: less than one second of sound\n");
        return 1;
    }
    const std::size_t begin = first + (last - first - count) / 2;
    const double fundamental = goertzel_amplitude(s, begin, count, frequency);
    if (fundamental <= 0.0) return 1;
    for (int k = 1; k <= 5; ++k) {
        std::printf("%s%.4f", k == 1 ? "" : " ",
                    goertzel_amplitude(s, begin, count, frequency * k) / fundamental);
    }
    std::printf("\n");
    return 0;
}

// Zero crossings per second: a sine of f Hz crosses 2f times a second.
double crossings_per_second(const std::vector<int>& v) {
    if (v.size() < 2) return 0.0;
    int count = 0;
    for (std::size_t i = 1; i < v.size(); ++i) {
        if ((v[i - 1] < 0) != (v[i] < 0)) ++count;
    }
    return double(count) * 1000.0 / double(v.size());
}

int print_mor(const char* path) {
    std::ifstream file(path);
    if (!file) {
        std::fprintf(stderr, "audio_analyse: cannot read %s\n", path);
        return 1;
    }
    struct block {
        std::string frequency;
        long lines = 0;
        bool contiguous = true;
        std::vector<int> left;
        std::vector<int> right;
    };
    std::vector<block> blocks;
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string frequency;
        long index = 0;
        int left = 0;
        int right = 0;
        std::string extra;
        if (!(fields >> frequency >> index >> left >> right) || (fields >> extra)) {
            std::fprintf(stderr, "audio_analyse: bad MOR line: %s\n", line.c_str());
            return 1;
        }
        if (index == 0 || blocks.empty() || blocks.back().frequency != frequency) {
            blocks.emplace_back();
            blocks.back().frequency = frequency;
        }
        block& current = blocks.back();
        if (index != current.lines) current.contiguous = false;
        ++current.lines;
        current.left.push_back(left);
        current.right.push_back(right);
    }
    for (const block& b : blocks) {
        std::printf("%s %ld %s %.1f %.1f\n", b.frequency.c_str(), b.lines,
                    b.contiguous ? "contiguous" : "gaps", crossings_per_second(b.left),
                    crossings_per_second(b.right));
    }
    return 0;
}

int usage() {
    std::fprintf(stderr,
                 "usage: audio_analyse segments|levels RAW | gate RAW CHANNEL | "
                 "harmonics RAW CHANNEL FREQ | mor FILE\n");
    return 2;
}

// A loud tone crosses zero in one sample; three quiet samples in a row are
// a dropout.
void print_gaps(const channel_samples& s) {
    std::size_t first = 0;
    std::size_t last = s.size();
    while (first < s.size() && std::abs(s[first]) < silence_level) ++first;
    while (last > first && std::abs(s[last - 1]) < silence_level) --last;
    std::size_t gaps = 0;
    std::size_t longest = 0;
    std::size_t run = 0;
    for (std::size_t i = first; i < last; ++i) {
        if (std::abs(s[i]) < silence_level) {
            ++run;
            continue;
        }
        if (run >= 3) {
            ++gaps;
            longest = std::max(longest, run);
        }
        run = 0;
    }
    std::printf("%zu %.1f\n", gaps, static_cast<double>(longest) * 1000.0 / rate);
}

std::size_t first_sound(const stereo& audio) {
    for (std::size_t i = 0; i < audio.right.size(); ++i)
        if (audio.right[i] != 0 || audio.left[i] != 0) return i;
    return audio.right.size();
}

int print_contains(const char* recorded_path, const char* expected_path) {
    stereo recorded;
    stereo expected;
    if (!load_raw(recorded_path, recorded) || !load_raw(expected_path, expected)) return 1;
    const std::size_t at = first_sound(recorded);
    const std::size_t from = first_sound(expected);
    std::size_t differing = 0;
    for (std::size_t i = from; i < expected.right.size(); ++i) {
        const std::size_t j = at + (i - from);
        if (j >= recorded.right.size() || recorded.right[j] != expected.right[i] || recorded.left[j] != expected.left[i])
            ++differing;
    }
    std::size_t last = recorded.right.size();
    while (last > at && std::abs(recorded.right[last - 1]) < silence_level && std::abs(recorded.left[last - 1]) < silence_level)
        --last;
    int largest = 0;
    for (std::size_t i = at + 1; i < last; ++i) {
        largest = std::max(largest, std::abs(recorded.right[i] - recorded.right[i - 1]));
        largest = std::max(largest, std::abs(recorded.left[i] - recorded.left[i - 1]));
    }
    std::printf("%.4f %zu %zu %.4f %d\n", static_cast<double>(at) / rate, expected.right.size(), differing,
                static_cast<double>(last - at) / rate, largest);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string command = argv[1];
    if (command == "mor") return print_mor(argv[2]);
    if (command == "contains" && argc >= 4) return print_contains(argv[2], argv[3]);
    stereo audio;
    if (!load_raw(argv[2], audio)) return 1;
    if (command == "segments") {
        print_segments("right", audio.right);
        print_segments("left", audio.left);
        return 0;
    }
    if (command == "levels") {
        std::size_t begin = 0;
        std::size_t end = audio.right.size();
        if (argc >= 5) {
            begin = std::size_t(std::max(0.0, std::atof(argv[3])) * rate);
            end = std::size_t(std::max(0.0, std::atof(argv[4])) * rate);
        }
        print_levels("right", audio.right, begin, end);
        print_levels("left", audio.left, begin, end);
        return 0;
    }
    if (argc < 4) return usage();
    const channel_samples* channel = pick(audio, argv[3]);
    if (channel == nullptr) return 2;
    if (command == "gate") {
        print_gate(*channel);
        return 0;
    }
    if (command == "gaps") {
        print_gaps(*channel);
        return 0;
    }
    if (command == "harmonics" && argc >= 5) return print_harmonics(*channel, std::atof(argv[4]));
    return usage();
}

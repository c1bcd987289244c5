#include "engine/sound/wavetables.h"

#include <cmath>

#include "process/release.h"
#include "process/settings.h"

int16_t left_table[table_size];
int16_t right_table[table_size];
bool tables_built = false;

namespace {

const reset_step tables_reset{[] { tables_built = false; }};

constexpr double pi = 3.141592653589793;

enum class wave_shape { sine, triangle, square };

wave_shape chosen_shape() {
    if (settings.triangle_wave) return wave_shape::triangle;
    if (settings.square_wave) return wave_shape::square;
    return wave_shape::sine;
}

// trunc() of a value whose magnitude never exceeds 32767.
int16_t to_entry(double value) {
    return static_cast<int16_t>(value);
}

int16_t triangle_entry(double a, double amplitude) {
    if (a <= 90.0) return to_entry((amplitude * a) / 90.0);
    if (a <= 270.0) return to_entry(((180.0 - a) * amplitude) / 90.0);
    return to_entry(((a - 360.0) * amplitude) / 90.0);
}

int16_t square_entry(double a, double amplitude) {
    return a <= 180.0 ? to_entry(amplitude) : to_entry(-amplitude);
}

// Rounds to nearest, halves away from zero.
int16_t sine_entry(double x, double amplitude) {
    double s = sin(x) * amplitude;
    if (s > 0) return to_entry(s + 0.5);
    if (s < 0) return to_entry(s - 0.5);
    return 0;
}

int16_t table_entry(wave_shape shape, int i, double amplitude, double phase_angle) {
    if (shape == wave_shape::sine) {
        double x = ((2 * i) * pi) / 4096.0 + (phase_angle * pi) / 180.0;
        return sine_entry(x, amplitude);
    }
    double a = (i * 360.0) / 4096.0 + phase_angle;
    if (a > 360.0) a = a - 360.0;
    if (a < 0.0) a = a + 360.0;
    return shape == wave_shape::triangle ? triangle_entry(a, amplitude) : square_entry(a, amplitude);
}

}  // namespace

void build_wavetables() {
    if (tables_built) return;
    wave_shape shape = chosen_shape();
    double left_amplitude = settings.left_volume * 32767.0;
    double right_amplitude = settings.right_volume * 32767.0;
    for (int i = 0; i < table_size; ++i) {
        left_table[i] = table_entry(shape, i, left_amplitude, 0.0);
        right_table[i] = table_entry(shape, i, right_amplitude, settings.phase_angle);
    }
    tables_built = true;
}

#pragma once

#include <memory>

#include "platform/sound_file.h"

// WAV files, written with the file API.
std::unique_ptr<sound_file_writer> make_wav_writer();

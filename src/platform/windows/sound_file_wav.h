#pragma once

#include <memory>

#include "platform/sound_file.h"

// WAV files through WinMM's RIFF file services.
std::unique_ptr<sound_file_writer> make_wav_writer();

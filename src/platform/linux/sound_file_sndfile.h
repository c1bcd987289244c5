#pragma once

#include <memory>

#include "platform/sound_file.h"

// Sound files through libsndfile: WAV (RF64 when too long for one), FLAC,
// and Ogg Vorbis and MP3 where the installed library encodes them.
std::unique_ptr<sound_file_writer> make_sndfile_writer();

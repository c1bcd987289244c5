#pragma once

// The program's fixed texts, written out byte for byte as a user sees them.

#include <string>

namespace tq_test {

inline const std::string version_block =
    "tonquel:\n\tVersion: 1.13\n"
    "\tWritten by the tonquel developers; free to use, study and share.\n"
    "\tReport problems on the tonquel issue tracker.\n";

inline const std::string usage_text =
    "Usage: tonquel -g\n"
    "       tonquel [X] -f frequency_file [frequency_file [...]]\n"
    "       tonquel [X] -s sweep_start,sweep_end,sweep_increment,sweep_duration\n"
    "       tonquel [X] frequency,duration [frequency,duration [...]]\n"
    " where [X] is:\n"
    "       [[-b bracket] ...] [[-o offset] ...] [-v[lr] volume] [-V] [-r] [-S|-T]\n"
    "       [[-e]|[-l frequency]|[-l=r]|[-P angle]] [-m MOR_output_file]\n"
    "       [-p pulse_frequency[,pulse_duration]]\n";

}  // namespace tq_test

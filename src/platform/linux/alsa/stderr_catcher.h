#pragma once

#include <string>

// While it lives, standard error goes to a private in-memory file, so that
// what the sound libraries print (alsa-lib's "ALSA lib ..." lines, libpulse's
// "Failed to create secure directory", PipeWire's log) never reaches the
// user: the program reports device failures in its own words. Made only on
// the main thread around calls that it waits for, while nothing else of the
// program writes to standard error.
class stderr_catcher {
public:
    stderr_catcher();
    ~stderr_catcher();
    stderr_catcher(const stderr_catcher&) = delete;
    stderr_catcher& operator=(const stderr_catcher&) = delete;

    // The last non-empty line caught so far, without its line end.
    std::string last_line() const;

private:
    int saved_ = -1;   // the real standard error
    int caught_ = -1;  // where it goes meanwhile
};

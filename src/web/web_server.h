#pragma once

#include <cstddef>

// --web: while the run plays, a page for a browser that holds the run's key
// (kept as web-key among the user's keys), served on a thread of its own.
// The page's server talks to the run only as a client of the control
// channel, so that nothing it receives can hold up the sound.

// Starts serving, once the control channel listens and before anything
// sounds, and prints the address to open on standard error. A key or an
// address that cannot be had ends the run with status 1.
void start_web();

// The page, embedded at build time (web/page.html).
extern const char* const web_page_html;
extern const size_t web_page_size;

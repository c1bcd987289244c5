#pragma once

// The -g mode: the user picks frequency files in a dialog; each is logged and
// read into the schedule. Sets build_status, or ends the run with status 1.
void pick_frequency_files();

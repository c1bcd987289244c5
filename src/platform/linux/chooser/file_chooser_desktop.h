#pragma once

#include <memory>

#include "platform/file_chooser.h"

// zenity, else kdialog, in a graphical session; a numbered list on the
// terminal otherwise; a cancel when neither is possible.
std::unique_ptr<file_chooser> make_desktop_file_chooser();

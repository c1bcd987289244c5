#include "platform/windows/file_chooser_dialog.h"

#include <windows.h>
#include <commdlg.h>

#include <atomic>
#include <vector>

#include "platform/windows/selection_buffer.h"

namespace {

constexpr DWORD selection_size = 16384;
// OFN_ALLOWMULTISELECT | OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR
constexpr DWORD dialog_flags = 0x8020C;
constexpr DWORD buffer_too_small = 0x3003;  // FNERR_BUFFERTOOSMALL

// The thread that shows the dialog, while it is up; 0 otherwise.
std::atomic<DWORD> dialog_thread{0};

BOOL CALLBACK close_window(HWND window, LPARAM) {
    PostMessageA(window, WM_CLOSE, 0, 0);
    return TRUE;
}

// Ctrl-C while the dialog is up closes it, so that the run can act on the
// interrupt instead of waiting for the user to answer. The C library's own
// handler, next in the chain, still records the signal.
BOOL WINAPI close_dialog_on_interrupt(DWORD event) {
    if (event == CTRL_C_EVENT)
        if (DWORD thread = dialog_thread.load()) EnumThreadWindows(thread, close_window, 0);
    return FALSE;
}

struct dialog_shown {
    dialog_shown() {
        dialog_thread.store(GetCurrentThreadId());
        SetConsoleCtrlHandler(close_dialog_on_interrupt, TRUE);
    }
    ~dialog_shown() {
        SetConsoleCtrlHandler(close_dialog_on_interrupt, FALSE);
        dialog_thread.store(0);
    }
    dialog_shown(const dialog_shown&) = delete;
    dialog_shown& operator=(const dialog_shown&) = delete;
};

struct dialog_file_chooser final : file_chooser {
    chooser_result choose(const std::string& title, const std::string& initial_dir) override {
        // The low byte of the version is the major version.
        if ((GetVersion() & 0xFF) < 4) return {chooser_result::outcome::unsupported, {}};
        std::vector<char> selection(selection_size, '\0');
        OPENFILENAMEA request{};
        // 76 on 32-bit Windows; a 64-bit build passes its own record's size.
        request.lStructSize = sizeof request;
        request.lpstrFilter = "All Files\0*.*\0";
        request.lpstrFile = selection.data();
        request.nMaxFile = selection_size;
        request.lpstrInitialDir = initial_dir.c_str();
        request.lpstrTitle = title.c_str();
        request.Flags = dialog_flags;
        BOOL chosen = FALSE;
        {
            dialog_shown shown;
            chosen = GetOpenFileNameA(&request);
        }
        if (!chosen) {
            if (CommDlgExtendedError() == buffer_too_small) return {chooser_result::outcome::too_many, {}};
            return {};
        }
        return read_selection_buffer(selection.data(), selection.size());
    }
};

}  // namespace

std::unique_ptr<file_chooser> make_dialog_file_chooser() {
    return std::make_unique<dialog_file_chooser>();
}

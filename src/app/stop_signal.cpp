#include "app/stop_signal.h"

std::atomic<bool> stopRequested{false};

BOOL WINAPI onConsoleControl(DWORD ctrlType) {
    switch (ctrlType) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        // For close, logoff and shutdown the platform ends the process once this
        // returns, so waiting here for the teardown would only delay that.
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            stopRequested.store(true);
            return TRUE;
        default:
            return FALSE;
    }
}

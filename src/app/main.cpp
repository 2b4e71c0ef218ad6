#include <memory>

#include "app/run_sequence.h"
#ifdef _WIN32
#include "windows/windows_backend.h"
#else
#include "linux/linux_backend.h"
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    const std::unique_ptr<CaptureBackend> backend = newWindowsBackend();
#else
    const std::unique_ptr<CaptureBackend> backend = newLinuxBackend();
#endif
    return runSequence(*backend, argc, argv);
}

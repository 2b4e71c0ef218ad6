// The standard handles as the program asks about them: a terminal is a
// console, a regular file is a disk file, a pipe, socket or FIFO is a pipe.
// Also the CRT's 64-bit seek and resize.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/win32.h"

namespace {

// A standard handle stands for its descriptor; only its address is used.
char stdHandles[3];

int descriptorOf(HANDLE handle) {
    for (int fd = 0; fd < 3; ++fd) {
        if (handle == &stdHandles[fd]) return fd;
    }
    return -1;
}

}  // namespace

HANDLE GetStdHandle(DWORD stdHandle) {
    switch (stdHandle) {
        case STD_INPUT_HANDLE: return &stdHandles[0];
        case STD_OUTPUT_HANDLE: return &stdHandles[1];
        case STD_ERROR_HANDLE: return &stdHandles[2];
        default: return INVALID_HANDLE_VALUE;  // NOLINT(performance-no-int-to-ptr): the SDK defines it so
    }
}

DWORD GetFileType(HANDLE file) {
    struct stat st {};
    const int fd = descriptorOf(file);
    if (fd < 0 || ::fstat(fd, &st) != 0) return FILE_TYPE_UNKNOWN;
    if (S_ISREG(st.st_mode)) return FILE_TYPE_DISK;
    if (S_ISCHR(st.st_mode)) return FILE_TYPE_CHAR;
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return FILE_TYPE_PIPE;
    return FILE_TYPE_UNKNOWN;
}

BOOL GetConsoleMode(HANDLE consoleHandle, DWORD* mode) {
    const int fd = descriptorOf(consoleHandle);
    if (mode == nullptr || fd < 0 || ::isatty(fd) == 0) return FALSE;
    *mode = 0x0003;  // ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT, as a console's output has
    return TRUE;
}

long long _lseeki64(int fd, long long offset, int origin) {
    return static_cast<long long>(::lseek(fd, static_cast<off_t>(offset), origin));
}

int _chsize_s(int fd, long long size) {
    return ::ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : errno;
}

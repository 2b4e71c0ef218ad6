#include "output/output_stream.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <sys/types.h>
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// The two C runtimes name the same descriptor calls differently; nothing else differs.
namespace {
std::atomic<const std::atomic<bool>*> cutOn{nullptr};

#ifdef _WIN32
int writeSome(const void* p, std::size_t n) { return _write(1, p, static_cast<unsigned int>(n)); }
bool isRegularFile() {
    struct _stat64 st {};
    return _fstat64(1, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
}
#else
int writeSome(const void* p, std::size_t n) { return static_cast<int>(::write(1, p, n)); }
bool isRegularFile() {
    struct stat st {};
    return ::fstat(1, &st) == 0 && S_ISREG(st.st_mode);
}
#endif
}  // namespace

void useBinaryOutput() {
#ifdef _WIN32
    _setmode(1, _O_BINARY);
    _setmode(2, _O_TEXT);
#endif
}

void useTextOutput() {
#ifdef _WIN32
    _setmode(1, _O_TEXT);
#endif
}

void cutWritesOnStop(const std::atomic<bool>* stop) { cutOn.store(stop); }

bool writesCutOnStop() { return cutOn.load() != nullptr; }

bool writeAll(const void* bytes, std::size_t length) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    const std::atomic<bool>* stop = cutOn.load();
    std::size_t written = 0;
    while (written < length) {
        // A write the platform cut short comes back as a partial one: after a
        // stop it is not retried, or it would block on the stalled reader again.
        if (stop != nullptr && stop->load()) return false;
        // The count goes in unsigned but comes back as an int.
        std::size_t chunk = length - written;
        if (chunk > static_cast<std::size_t>(INT_MAX)) chunk = INT_MAX;
        const int n = writeSome(p + written, chunk);
        if (n < 1) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// Seeking is defined only on files; on a pipe it may even appear to work.
bool outputIsFreshFile() { return isRegularFile() && seekOutput(0, SEEK_CUR) == 0; }

long long seekOutput(long long offset, int origin) {
#ifdef _WIN32
    return _lseeki64(1, offset, origin);
#else
    return static_cast<long long>(::lseek(1, static_cast<off_t>(offset), origin));
#endif
}

bool truncateOutput(long long size) {
#ifdef _WIN32
    return _chsize_s(1, size) == 0;
#else
    return ::ftruncate(1, static_cast<off_t>(size)) == 0;
#endif
}

void closeOutput() {
    std::fflush(stdout);
#ifdef _WIN32
    _close(1);
#else
    ::close(1);
#endif
}

bool outputReaderGone() {
#ifdef _WIN32
    // The C runtime never passes a zero-byte write on, so the handle is asked
    // directly; on a pipe whose reader has gone it fails as any write would.
    // https://learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-writefile
    const auto pipe = reinterpret_cast<HANDLE>(_get_osfhandle(1));  // NOLINT(performance-no-int-to-ptr)
    if (pipe == INVALID_HANDLE_VALUE || GetFileType(pipe) != FILE_TYPE_PIPE) return false;
    DWORD none = 0;
    if (WriteFile(pipe, &none, 0, &none, nullptr) != FALSE) return false;
    const DWORD error = GetLastError();
    return error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
#else
    // A pipe with no reader left polls as an error for its writer (man 7 pipe).
    pollfd out{1, 0, 0};
    return ::poll(&out, 1, 0) == 1 && (out.revents & POLLERR) != 0;
#endif
}

namespace {

// False, with errno set, when it cannot be opened.
bool openAsOutput(const char* path) {
#ifdef _WIN32
    // The path as the caller wrote it, whatever the code pages.
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
    if (units <= 0) {
        errno = EINVAL;
        return false;
    }
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, &wide[0], units);
    int fd = -1;
    const errno_t error =
        _wsopen_s(&fd, wide.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _SH_DENYNO, _S_IREAD | _S_IWRITE);
    if (error != 0 || fd < 0) {
        errno = error;
        return false;
    }
    const bool made = fd == 1 || _dup2(fd, 1) == 0;
    if (fd != 1) _close(fd);
    if (made) _setmode(1, _O_BINARY);
    return made;
#else
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const bool made = fd == 1 || ::dup2(fd, 1) == 1;
    if (fd != 1) ::close(fd);
    return made;
#endif
}

// The C library's text for an errno value, through the form each C runtime accepts without complaint.
std::string errorText(int error) {
#ifdef _WIN32
    char text[128];
    return strerror_s(text, sizeof text, error) == 0 ? text : "unknown error";
#else
    return std::strerror(error);
#endif
}

}  // namespace

bool openOutputFile(const char* path, std::string& why) {
    if (openAsOutput(path)) return true;
    why = errorText(errno);
    return false;
}

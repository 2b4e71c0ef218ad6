#include "output/output_stream.h"

#include <climits>
#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

// The two C runtimes name the same descriptor calls differently; nothing else differs.
namespace {
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

bool writeAll(const void* bytes, std::size_t length) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    std::size_t written = 0;
    while (written < length) {
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

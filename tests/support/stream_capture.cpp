#include "stream_capture.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

StreamCapture::StreamCapture(std::size_t readLimit) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    char name[] = "/tmp/procloop-stderr-XXXXXX";
    errFile_ = ::mkstemp(name);
    if (errFile_ < 0) throw std::runtime_error("mkstemp");
    ::unlink(name);
    std::fflush(stdout);
    std::fflush(stderr);
    savedOut_ = ::dup(1);
    savedErr_ = ::dup(2);
    ::dup2(fds[1], 1);
    ::close(fds[1]);
    ::dup2(errFile_, 2);
    reader_ = std::thread(&StreamCapture::read, this, fds[0], readLimit);
}

StreamCapture::~StreamCapture() { finish(); }

void StreamCapture::read(int fd, std::size_t limit) {
    unsigned char chunk[65536];
    while (out_.size() < limit) {
        std::size_t want = sizeof chunk;
        if (limit - out_.size() < want) want = limit - out_.size();
        const ssize_t n = ::read(fd, chunk, want);
        if (n <= 0) break;
        out_.insert(out_.end(), chunk, chunk + n);
    }
    ::close(fd);
}

void StreamCapture::finish() {
    if (finished_) return;
    finished_ = true;
    std::fflush(stderr);
    ::dup2(savedOut_, 1);  // closes the pipe's last write end: the reader sees EOF
    ::dup2(savedErr_, 2);
    ::close(savedOut_);
    ::close(savedErr_);
    reader_.join();
    ::lseek(errFile_, 0, SEEK_SET);
    char chunk[4096];
    for (ssize_t n; (n = ::read(errFile_, chunk, sizeof chunk)) > 0;) err_.append(chunk, static_cast<std::size_t>(n));
    ::close(errFile_);
}

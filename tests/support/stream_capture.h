// Captures what the code under test writes to descriptors 1 and 2. Standard
// output goes through a real pipe, read on a thread, so short writes and a
// reader that goes away behave as they would for a process.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

class StreamCapture {
public:
    // readLimit: the reader closes its end after this many bytes.
    explicit StreamCapture(std::size_t readLimit = SIZE_MAX);
    ~StreamCapture();
    StreamCapture(const StreamCapture&) = delete;
    StreamCapture& operator=(const StreamCapture&) = delete;

    // Restores both descriptors; the captured text and bytes are complete then.
    void finish();

    const std::vector<unsigned char>& out() const { return out_; }
    const std::string& err() const { return err_; }

private:
    void read(int fd, std::size_t limit);

    int savedOut_ = -1;
    int savedErr_ = -1;
    int errFile_ = -1;
    bool finished_ = false;
    std::thread reader_;
    std::vector<unsigned char> out_;
    std::string err_;
};

// The live meter's line on standard error, kept only when a person is
// watching a console; otherwise every call here does nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "output/level_meter.h"

class StatusLine {
public:
    // Turns the line on when a person watches standard error on a console.
    void start(std::uint32_t channels, bool console);

    bool active() const { return active_; }
    void written(const float* samples, std::size_t count) {
        if (!active_) return;
        meter_.track(samples, count);
        meter_.count(count * sizeof(float));
    }
    // Redraws the line when it is due (about four times a second).
    void refresh();
    // Clears the line, so the next diagnostic line starts on a clean one.
    void erase();

private:
    LevelMeter meter_;
    std::size_t shown_ = 0;  // length of the line now on screen
    bool active_ = false;
};

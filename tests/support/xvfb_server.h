// A private X server (Xvfb) for the tests that resolve windows: started in a
// directory of its own on a display number it picks itself, stopped by pid.
#pragma once

#include <memory>
#include <string>

#include "background_process.h"

class XvfbServer {
public:
    // withXResource false starts it without the X-Resource extension.
    explicit XvfbServer(bool withXResource = true);

    // ":N", or empty if the server did not come up.
    const std::string& display() const { return display_; }

private:
    TempDir directory_;
    std::unique_ptr<BackgroundProcess> process_;
    std::string display_;
};

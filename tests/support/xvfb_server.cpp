#include "xvfb_server.h"

#include <vector>

XvfbServer::XvfbServer(bool withXResource) {
    // -displayfd: the server takes the first free display number and writes it
    // there once it accepts connections, so there is no race for a number and
    // no polling for readiness.
    std::vector<std::string> argv = {"Xvfb", "-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"};
    if (!withXResource) argv.insert(argv.end(), {"-extension", "X-Resource"});
    process_ = std::make_unique<BackgroundProcess>(argv, std::vector<std::pair<std::string, std::string>>{
                                                             {"HOME", directory_.path()}},
                                                   directory_.path());
    const std::string number = process_->readLine(20000);
    if (!number.empty()) display_ = ":" + number;
}

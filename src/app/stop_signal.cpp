#include "app/stop_signal.h"

std::atomic<bool> stopRequested{false};

#pragma once

#include <vector>

#include "capture/backend.h"

// Every process now running, from the toolhelp snapshot. False, with the
// error line written, when the platform cannot take one.
bool snapshotProcesses(std::vector<ProcessEntry>& out);

#pragma once

#include <vector>

#include "app/process_names.h"

// Every process now running, from the platform's process snapshot. False,
// with the error line written, when the platform cannot take one.
bool snapshotProcesses(std::vector<ProcessEntry>& out);

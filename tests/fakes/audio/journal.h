// What the program asked of the stand-in platform, in order, for tests that
// assert set-up and teardown sequences. Per-packet calls are counted instead.
#pragma once

#include <string>
#include <vector>

namespace journal {

void record(std::string entry);
std::vector<std::string> entries();
void clear();

}  // namespace journal

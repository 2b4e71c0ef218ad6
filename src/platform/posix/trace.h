// Test builds link a recorder of the platform's calls (tests/fakes/audio);
// the product links none. The names are weak so that the product still links,
// and every call goes through the guards below.
#pragma once

#include <string>
#include <utility>

namespace journal {
[[gnu::weak]] void record(std::string entry);
[[gnu::weak]] void clear();
}  // namespace journal

namespace engine {
[[gnu::weak]] unsigned programReferences();
}  // namespace engine

namespace standin {

inline bool tracing() { return &journal::record != nullptr; }
inline void trace(std::string entry) {
    if (tracing()) journal::record(std::move(entry));
}

}  // namespace standin

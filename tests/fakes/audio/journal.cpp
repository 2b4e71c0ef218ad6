#include "fakes/audio/journal.h"

#include <mutex>
#include <utility>

namespace journal {
namespace {

struct Journal {
    std::mutex mutex;
    std::vector<std::string> entries;
};

// Never destroyed: platform threads may still record while the process exits.
Journal& instance() {
    static Journal* journal = new Journal;
    return *journal;
}

}  // namespace

void record(std::string entry) {
    Journal& j = instance();
    const std::lock_guard<std::mutex> lock(j.mutex);
    j.entries.push_back(std::move(entry));
}

std::vector<std::string> entries() {
    Journal& j = instance();
    const std::lock_guard<std::mutex> lock(j.mutex);
    return j.entries;
}

void clear() {
    Journal& j = instance();
    const std::lock_guard<std::mutex> lock(j.mutex);
    j.entries.clear();
}

}  // namespace journal

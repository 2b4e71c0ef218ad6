#include "app/process_names.h"

#include <algorithm>
#include <cstddef>

const ProcessEntry* findProcess(const std::vector<ProcessEntry>& all, std::uint32_t pid) {
    for (const ProcessEntry& p : all) {
        if (p.pid == pid) return &p;
    }
    return nullptr;
}

std::vector<std::uint32_t> rootsNamed(const std::vector<ProcessEntry>& all, const std::string& name,
                                      const SameExecutable& same) {
    std::vector<std::uint32_t> roots;
    for (const ProcessEntry& p : all) {
        if (!same(p.executable, name)) continue;
        const ProcessEntry* parent = p.parent != p.pid ? findProcess(all, p.parent) : nullptr;
        if (parent == nullptr || !same(parent->executable, name)) roots.push_back(p.pid);
    }
    std::sort(roots.begin(), roots.end());
    return roots;
}

std::uint32_t treeRoot(const std::vector<ProcessEntry>& all, std::uint32_t pid, const SameExecutable& same) {
    const ProcessEntry* p = findProcess(all, pid);
    // Bounded by the snapshot's size, so a loop of parents (a reused pid) ends.
    for (std::size_t steps = 0; p != nullptr && steps < all.size(); ++steps) {
        const ProcessEntry* parent = p->parent != p->pid ? findProcess(all, p->parent) : nullptr;
        if (parent == nullptr || !same(parent->executable, p->executable)) break;
        p = parent;
    }
    return p != nullptr ? p->pid : pid;
}

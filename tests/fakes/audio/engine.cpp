// The engine's one state, the call counting every operation goes through,
// and the controls tests use.
#include "fakes/audio/engine.h"

#include <chrono>
#include <mutex>

#include "fakes/audio/internal.h"

namespace engine {
namespace internal {

// Never destroyed: in the DLL a pending completion thread may still be parked
// when the process exits, and destroying a joinable std::thread would abort.
Engine& eng() {
    static Engine* e = new Engine;
    return *e;
}

HRESULT injected(Call call) {
    Engine& e = eng();
    const std::lock_guard<std::mutex> lock(e.mutex);
    const int i = static_cast<int>(call);
    const unsigned n = ++e.stats.calls[i];
    const Fault& f = e.script.faults[i];
    return (f.onCall != 0 && n >= f.onCall) ? f.status : S_OK;
}

}  // namespace internal

using internal::Engine;
using internal::eng;

void load(const Script& script) {
    Engine& e = eng();
    const std::lock_guard<std::mutex> lock(e.mutex);
    e.script = script;
    e.loaded = true;
}

void awaitCompletion() {
    Engine& e = eng();
    if (e.completer.joinable()) e.completer.join();
}

void reset() {
    Engine& e = eng();
    {
        const std::lock_guard<std::mutex> lock(e.mutex);
        e.cancelled = true;
    }
    e.wake.notify_all();
    awaitCompletion();
    internal::stopProducer();
    const std::lock_guard<std::mutex> lock(e.mutex);
    e.cancelled = false;
    e.script = Script{};
    e.loaded = false;
    e.stats = Stats{};
    e.includeTree = true;
    e.initialized = false;
    e.format = WAVEFORMATEX{};
    e.event = nullptr;
    e.queue.clear();
    e.inHand = false;
    e.nextBurst = 0;
    e.kicked = false;
    e.armed = false;
    e.patternOffset = 0;
    e.toneCycle.clear();
    e.toneFrame = 0;
    e.toneFrames = 0;
}

Stats stats() {
    Engine& e = eng();
    Stats copy;
    {
        const std::lock_guard<std::mutex> lock(e.mutex);
        copy = e.stats;
    }
    const std::lock_guard<std::mutex> lock(e.objectsMutex);
    copy.liveObjects = static_cast<unsigned>(e.objects.size());
    return copy;
}

unsigned programReferences() {
    Engine& e = eng();
    {
        // A completion in flight still holds the handler, and through it the
        // client; that reference is the platform's to end, not the program's.
        std::unique_lock<std::mutex> lock(e.mutex);
        e.wake.wait_for(lock, std::chrono::seconds(5), [&e] { return !e.delivering; });
    }
    const std::lock_guard<std::mutex> lock(e.objectsMutex);
    unsigned held = 0;
    for (const internal::Object* object : e.objects) held += object->programHeld();
    return held;
}

}  // namespace engine

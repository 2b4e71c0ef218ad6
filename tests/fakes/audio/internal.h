// The stand-in engine's shared state and object bookkeeping, for its own
// source files only.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio_ids.h"
#include "fakes/audio/engine.h"
#include "fakes/audio/journal.h"

namespace engine {
namespace internal {

class Object;

struct Engine {
    std::mutex mutex;
    std::condition_variable wake;
    Script script;
    bool loaded = false;
    Stats stats;

    std::thread completer;
    bool cancelled = false;
    bool delivering = false;  // between ActivateCompleted and the platform's release of the handler

    bool includeTree = true;
    bool initialized = false;
    WAVEFORMATEX format{};
    HANDLE event = nullptr;
    std::deque<Packet> queue;
    bool inHand = false;
    std::size_t nextBurst = 0;
    bool kicked = false;  // the end of the bursts has been signalled
    bool armed = false;   // the next GetNextPacketSize reports the service error
    std::uint64_t patternOffset = 0;
    std::vector<BYTE> toneCycle;  // one second: both tones fit a whole number of periods
    std::size_t toneFrame = 0;
    std::uint64_t toneFrames = 0;

    std::thread producer;
    bool producing = false;

    std::mutex objectsMutex;
    std::set<Object*> objects;
};

// The one engine of the process.
Engine& eng();

// Counts a call and returns the status the script gives it (S_OK: none).
HRESULT injected(Call call);

// Reference counting shared by the engine's objects. The references the
// program holds are counted apart from the engine's own, so that tests can
// tell at any moment what the program has not let go of.
class Object {
public:
    Object() {
        Engine& e = eng();
        const std::lock_guard<std::mutex> lock(e.objectsMutex);
        e.objects.insert(this);
    }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    virtual ~Object() {
        Engine& e = eng();
        const std::lock_guard<std::mutex> lock(e.objectsMutex);
        e.objects.erase(this);
    }

    unsigned programHeld() const { return program_.load(); }

    // The reference the object was created with becomes the engine's own.
    void adoptAsInternal() { --program_; }
    void holdInternal() { ++refs_; }
    void dropInternal() {
        if (--refs_ == 0) delete this;
    }

protected:
    // Every AddRef through the interface hands a reference to the program,
    // including those the engine makes for an out-parameter.
    ULONG addRef() {
        ++program_;
        return ++refs_;
    }
    ULONG releaseFromProgram(const char* name) {
        if (--program_ == 0) journal::record(std::string(name) + " released");
        const ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }
    template <typename Interface>
    HRESULT query(Interface* self, const GUID& iid, REFIID riid, void** out) {
        if (out == nullptr) return E_POINTER;
        if (ids::same(riid, ids::kIUnknown) || ids::same(riid, iid)) {
            addRef();
            *out = self;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }

private:
    std::atomic<ULONG> refs_{1};
    std::atomic<ULONG> program_{1};
};

#define ENGINE_IUNKNOWN(Interface, iid)                                                                    \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {                           \
        return query(static_cast<Interface*>(this), iid, riid, out);                                       \
    }                                                                                                      \
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }                                        \
    ULONG STDMETHODCALLTYPE Release() override { return releaseFromProgram(#Interface); }

// Stops the packet thread, if it runs, and waits for it.
void stopProducer();

// A new audio client, owned through the one reference it is created with.
IAudioClient* newAudioClient(Object*& object);

}  // namespace internal
}  // namespace engine

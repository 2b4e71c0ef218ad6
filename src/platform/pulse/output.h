// What the mixer (on whichever thread runs the server connection's loop) hands
// to the capture client (on the program's thread): the packet ring, the program's event and
// the lost-server flag. The mutex guards ring bookkeeping and the event only;
// nothing calls into the program with it held.
#pragma once

#include <atomic>
#include <mutex>

#include "platform/platform.h"
#include "platform/pulse/packet_ring.h"

namespace pulse {

struct Output {
    std::mutex mutex;
    PacketRing ring;
    HANDLE event = nullptr;
    std::atomic<bool> lost{false};

    // The server went away: every later call fails, and the reader is woken
    // so that it finds out now rather than at its next time-out.
    void markLost() {
        HANDLE toSignal = nullptr;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            lost.store(true);
            toSignal = event;
        }
        if (toSignal != nullptr) SetEvent(toSignal);
    }
};

}  // namespace pulse

// CoCreateInstance for the one class the program creates: the device
// enumerator, which the audio service linked in supplies through the hook
// below. Without one the class is not registered, as on a Windows without the
// audio stack.
#include "platform/audio_ids.h"
#include "platform/posix/objects.h"

extern "C" [[gnu::weak]] HRESULT procloop_device_enumerator(REFIID riid, void** out);

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD /*dwClsContext*/, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!posix::comInitialized()) return CO_E_NOTINITIALIZED;
    if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
    if (!ids::same(rclsid, ids::kMMDeviceEnumerator) || &procloop_device_enumerator == nullptr) {
        return REGDB_E_CLASSNOTREG;
    }
    return procloop_device_enumerator(riid, ppv);
}

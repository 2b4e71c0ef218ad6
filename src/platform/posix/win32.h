// The subset of Win32, COM and the Windows audio stack that the program calls,
// for hosts that are not Windows. Names, field types, sizes and
// status values follow the Windows SDK so program code reads the same on both.
// One knowing difference: WCHAR is the host's wchar_t, so that L"" literals work;
// records the platform reads by size use 16-bit characters explicitly.
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI
#define STDMETHODCALLTYPE
#define FALSE 0
#define TRUE 1

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using UINT32 = std::uint32_t;
using UINT64 = std::uint64_t;
using ULONGLONG = std::uint64_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using LONGLONG = std::int64_t;
using BOOL = int;
using HRESULT = std::int32_t;
using WCHAR = wchar_t;
using LPCWSTR = const WCHAR*;
using LPWSTR = WCHAR*;
using REFERENCE_TIME = std::int64_t;
using VARTYPE = std::uint16_t;
using HANDLE = void*;
using ULONG_PTR = std::uintptr_t;
struct HWND__;
using HWND = HWND__*;
struct HINSTANCE__;
using HMODULE = HINSTANCE__*;
using FARPROC = std::intptr_t (*)();

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
constexpr HRESULT E_PENDING = static_cast<HRESULT>(0x8000000A);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);
constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0);
constexpr HRESULT RPC_E_CHANGED_MODE = static_cast<HRESULT>(0x80010106);
constexpr HRESULT AUDCLNT_E_NOT_INITIALIZED = static_cast<HRESULT>(0x88890001);
constexpr HRESULT AUDCLNT_E_ALREADY_INITIALIZED = static_cast<HRESULT>(0x88890002);
constexpr HRESULT AUDCLNT_E_DEVICE_INVALIDATED = static_cast<HRESULT>(0x88890004);
constexpr HRESULT AUDCLNT_E_NOT_STOPPED = static_cast<HRESULT>(0x88890005);
constexpr HRESULT AUDCLNT_E_UNSUPPORTED_FORMAT = static_cast<HRESULT>(0x88890008);
constexpr HRESULT AUDCLNT_E_OUT_OF_ORDER = static_cast<HRESULT>(0x88890007);
constexpr HRESULT AUDCLNT_E_SERVICE_NOT_RUNNING = static_cast<HRESULT>(0x88890010);
constexpr HRESULT AUDCLNT_E_EVENTHANDLE_NOT_SET = static_cast<HRESULT>(0x88890014);
constexpr HRESULT AUDCLNT_E_BUFFER_ERROR = static_cast<HRESULT>(0x88890018);
constexpr HRESULT AUDCLNT_E_INVALID_SIZE = static_cast<HRESULT>(0x88890011);

constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_NO_MORE_FILES = 18;
constexpr DWORD ERROR_BAD_LENGTH = 24;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr HRESULT HRESULT_FROM_WIN32(DWORD error) {
    return error == 0 ? S_OK : static_cast<HRESULT>((error & 0xFFFF) | 0x80070000u);
}

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED = 0x80;
constexpr DWORD WAIT_TIMEOUT = 0x102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

constexpr DWORD SYNCHRONIZE = 0x00100000;
constexpr DWORD THREAD_TERMINATE = 0x0001;

constexpr DWORD CTRL_C_EVENT = 0;
constexpr DWORD CTRL_BREAK_EVENT = 1;
constexpr DWORD CTRL_CLOSE_EVENT = 2;
constexpr DWORD CTRL_LOGOFF_EVENT = 5;
constexpr DWORD CTRL_SHUTDOWN_EVENT = 6;

constexpr DWORD STD_INPUT_HANDLE = static_cast<DWORD>(-10);
constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
constexpr DWORD STD_ERROR_HANDLE = static_cast<DWORD>(-12);
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))

constexpr DWORD FILE_TYPE_UNKNOWN = 0x0000;
constexpr DWORD FILE_TYPE_DISK = 0x0001;
constexpr DWORD FILE_TYPE_CHAR = 0x0002;
constexpr DWORD FILE_TYPE_PIPE = 0x0003;

constexpr int _O_TEXT = 0x4000;
constexpr int _O_BINARY = 0x8000;

constexpr DWORD COINIT_MULTITHREADED = 0;
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_ALL = 0x17;

constexpr DWORD MAX_PATH = 260;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD TH32CS_SNAPPROCESS = 0x00000002;

constexpr VARTYPE VT_BLOB = 65;

constexpr WORD WAVE_FORMAT_PCM = 1;
constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 3;
constexpr WORD WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

enum EDataFlow { eRender = 0, eCapture = 1, eAll = 2 };
enum ERole { eConsole = 0, eMultimedia = 1, eCommunications = 2 };
constexpr DWORD DEVICE_STATE_ACTIVE = 0x1;
enum AudioSessionState { AudioSessionStateInactive = 0, AudioSessionStateActive = 1, AudioSessionStateExpired = 2 };

enum AUDCLNT_SHAREMODE { AUDCLNT_SHAREMODE_SHARED = 0, AUDCLNT_SHAREMODE_EXCLUSIVE = 1 };
constexpr DWORD AUDCLNT_STREAMFLAGS_LOOPBACK = 0x00020000;
constexpr DWORD AUDCLNT_STREAMFLAGS_EVENTCALLBACK = 0x00040000;
constexpr DWORD AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM = 0x80000000;
constexpr DWORD AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY = 0x1;
constexpr DWORD AUDCLNT_BUFFERFLAGS_SILENT = 0x2;
constexpr DWORD AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR = 0x4;

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFCLSID = const CLSID&;
using REFIID = const IID&;
using LPCGUID = const GUID*;

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};

struct WAVEFORMATEXTENSIBLE {
    WAVEFORMATEX Format;
    union {
        WORD wValidBitsPerSample;
        WORD wSamplesPerBlock;
        WORD wReserved;
    } Samples;
    DWORD dwChannelMask;
    GUID SubFormat;
};
#pragma pack(pop)

struct OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    std::uint16_t szCSDVersion[128];
};

struct PROCESSENTRY32W {
    DWORD dwSize;
    DWORD cntUsage;
    DWORD th32ProcessID;
    ULONG_PTR th32DefaultHeapID;
    DWORD th32ModuleID;
    DWORD cntThreads;
    DWORD th32ParentProcessID;
    LONG pcPriClassBase;
    DWORD dwFlags;
    WCHAR szExeFile[MAX_PATH];
};

struct BLOB {
    ULONG cbSize;
    BYTE* pBlobData;
};

struct PROPVARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        BLOB blob;
        std::uint64_t uhVal;
    };
};

#include "platform/activation_params.h"

// COM interfaces, declared in the SDK's slot order.
struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

protected:
    ~IUnknown() = default;
};

struct IAgileObject : IUnknown {
protected:
    ~IAgileObject() = default;
};

struct IActivateAudioInterfaceAsyncOperation : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetActivateResult(HRESULT* activateResult, IUnknown** activatedInterface) = 0;

protected:
    ~IActivateAudioInterfaceAsyncOperation() = default;
};

struct IActivateAudioInterfaceCompletionHandler : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ActivateCompleted(IActivateAudioInterfaceAsyncOperation* activateOperation) = 0;

protected:
    ~IActivateAudioInterfaceCompletionHandler() = default;
};

struct IAudioClient : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE ShareMode, DWORD StreamFlags,
                                                 REFERENCE_TIME hnsBufferDuration, REFERENCE_TIME hnsPeriodicity,
                                                 const WAVEFORMATEX* pFormat, LPCGUID AudioSessionGuid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* pNumBufferFrames) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME* phnsLatency) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32* pNumPaddingFrames) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE ShareMode, const WAVEFORMATEX* pFormat,
                                                        WAVEFORMATEX** ppClosestMatch) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** ppDeviceFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* phnsDefaultDevicePeriod,
                                                      REFERENCE_TIME* phnsMinimumDevicePeriod) = 0;
    virtual HRESULT STDMETHODCALLTYPE Start() = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE eventHandle) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetService(REFIID riid, void** ppv) = 0;

protected:
    ~IAudioClient() = default;
};

struct IAudioCaptureClient : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** ppData, UINT32* pNumFramesToRead, DWORD* pdwFlags,
                                                UINT64* pu64DevicePosition, UINT64* pu64QPCPosition) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 NumFramesRead) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* pNumFramesInNextPacket) = 0;

protected:
    ~IAudioCaptureClient() = default;
};

// Device and session enumeration: declared in full, in slot order; the
// service answers the methods the program calls.
struct IMMDevice;
struct IMMDeviceCollection;
struct IMMNotificationClient;
struct IPropertyStore;
struct IAudioSessionControl;
struct IAudioSessionEnumerator;
struct IAudioSessionEvents;
struct IAudioSessionNotification;
struct IAudioVolumeDuckNotification;
struct ISimpleAudioVolume;

struct IMMDeviceEnumerator : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow dataFlow, DWORD dwStateMask,
                                                         IMMDeviceCollection** ppDevices) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow dataFlow, ERole role,
                                                              IMMDevice** ppEndpoint) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR pwstrId, IMMDevice** ppDevice) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient* pClient) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient* pClient) = 0;

protected:
    ~IMMDeviceEnumerator() = default;
};

struct IMMDeviceCollection : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetCount(UINT* pcDevices) = 0;
    virtual HRESULT STDMETHODCALLTYPE Item(UINT nDevice, IMMDevice** ppDevice) = 0;

protected:
    ~IMMDeviceCollection() = default;
};

struct IMMDevice : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD dwClsCtx, PROPVARIANT* pActivationParams,
                                               void** ppInterface) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD stgmAccess, IPropertyStore** ppProperties) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetId(LPWSTR* ppstrId) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetState(DWORD* pdwState) = 0;

protected:
    ~IMMDevice() = default;
};

struct IAudioSessionManager : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetAudioSessionControl(LPCGUID AudioSessionGuid, DWORD StreamFlags,
                                                             IAudioSessionControl** SessionControl) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSimpleAudioVolume(LPCGUID AudioSessionGuid, DWORD StreamFlags,
                                                           ISimpleAudioVolume** AudioVolume) = 0;

protected:
    ~IAudioSessionManager() = default;
};

struct IAudioSessionManager2 : IAudioSessionManager {
    virtual HRESULT STDMETHODCALLTYPE GetSessionEnumerator(IAudioSessionEnumerator** SessionEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterSessionNotification(IAudioSessionNotification* SessionNotification) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnregisterSessionNotification(IAudioSessionNotification* SessionNotification) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterDuckNotification(LPCWSTR sessionID,
                                                               IAudioVolumeDuckNotification* duckNotification) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnregisterDuckNotification(IAudioVolumeDuckNotification* duckNotification) = 0;

protected:
    ~IAudioSessionManager2() = default;
};

struct IAudioSessionEnumerator : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetCount(int* SessionCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSession(int SessionCount, IAudioSessionControl** Session) = 0;

protected:
    ~IAudioSessionEnumerator() = default;
};

struct IAudioSessionControl : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetState(AudioSessionState* pRetVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDisplayName(LPWSTR* pRetVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDisplayName(LPCWSTR Value, LPCGUID EventContext) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIconPath(LPWSTR* pRetVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIconPath(LPCWSTR Value, LPCGUID EventContext) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetGroupingParam(GUID* pRetVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetGroupingParam(LPCGUID Override, LPCGUID EventContext) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterAudioSessionNotification(IAudioSessionEvents* NewNotifications) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnregisterAudioSessionNotification(IAudioSessionEvents* NewNotifications) = 0;

protected:
    ~IAudioSessionControl() = default;
};

struct IAudioSessionControl2 : IAudioSessionControl {
    virtual HRESULT STDMETHODCALLTYPE GetSessionIdentifier(LPWSTR* pRetVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSessionInstanceIdentifier(LPWSTR* pRetVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProcessId(DWORD* pRetVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsSystemSoundsSession() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDuckingPreference(BOOL optOut) = 0;

protected:
    ~IAudioSessionControl2() = default;
};

using PHANDLER_ROUTINE = BOOL(WINAPI*)(DWORD CtrlType);

// C linkage, as on Windows; it also lets a test binary interpose on them by name.
// Only the 64-bit view is used here.
union LARGE_INTEGER {
    LONGLONG QuadPart;
};

extern "C" {

// Standard streams (the C runtime's low-level I/O).
int _setmode(int fd, int mode);
int _write(int fd, const void* buffer, unsigned int count);
long long _lseeki64(int fd, long long offset, int origin);  // SEEK_SET, SEEK_CUR, SEEK_END of <cstdio>
int _chsize_s(int fd, long long size);  // 0 or an errno value

// Standard handles: a console, a disk file or a pipe.
HANDLE GetStdHandle(DWORD stdHandle);
DWORD GetFileType(HANDLE file);
BOOL GetConsoleMode(HANDLE consoleHandle, DWORD* mode);

// The calling thread's last error, set by the calls below that say so.
DWORD GetLastError();

// Process snapshot (toolhelp), from /proc; each sets the last error when it fails.
HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD th32ProcessID);
BOOL Process32FirstW(HANDLE snapshot, PROCESSENTRY32W* entry);
BOOL Process32NextW(HANDLE snapshot, PROCESSENTRY32W* entry);

// Text conversion; only CP_UTF8, from the host's wide characters.
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wideText, int wideLength, char* text, int textSize,
                        const char* defaultChar, BOOL* usedDefaultChar);

// Console.
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handlerRoutine, BOOL add);

// Modules and windows.
HMODULE GetModuleHandleW(LPCWSTR moduleName);
FARPROC GetProcAddress(HMODULE module, const char* procName);
DWORD GetWindowThreadProcessId(HWND hWnd, DWORD* lpdwProcessId);

// Kernel objects.
HANDLE CreateEventW(void* eventAttributes, BOOL manualReset, BOOL initialState, LPCWSTR name);
BOOL SetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL CloseHandle(HANDLE object);
// Events and process handles alike; a process handle is signalled once the process has ended.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);

// Processes and threads.
HANDLE OpenProcess(DWORD desiredAccess, BOOL inheritHandle, DWORD processId);
DWORD GetCurrentThreadId();
HANDLE OpenThread(DWORD desiredAccess, BOOL inheritHandle, DWORD threadId);
BOOL CancelSynchronousIo(HANDLE thread);

// Time. The performance counter is CLOCK_MONOTONIC in 100 ns units (frequency 10 000 000),
// the clock and unit the audio service stamps packets with.
ULONGLONG GetTickCount64();
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);

// COM library.
HRESULT CoInitializeEx(void* reserved, DWORD coInit);
void CoUninitialize();
// The device enumerator (CLSID_MMDeviceEnumerator) comes from the audio service
// linked in; any other class is not registered.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, void** ppv);

// Multimedia class scheduler.
HANDLE AvSetMmThreadCharacteristicsW(LPCWSTR taskName, DWORD* taskIndex);
BOOL AvRevertMmThreadCharacteristics(HANDLE avrtHandle);

// Audio device library; supplied by the audio service linked in (src/platform/pulse, or a test fake).
HRESULT WINAPI ActivateAudioInterfaceAsync(LPCWSTR deviceInterfacePath, REFIID riid, PROPVARIANT* activationParams,
                                           IActivateAudioInterfaceCompletionHandler* completionHandler,
                                           IActivateAudioInterfaceAsyncOperation** activationOperation);

}  // extern "C"

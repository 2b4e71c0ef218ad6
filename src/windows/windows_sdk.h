// The Windows SDK as the backend uses it, plus what older SDKs (mingw-w64
// among them) do not ship: the process-loopback activation record and device name.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <objbase.h>
#include <mmreg.h>
#include <audioclient.h>
#include <audiopolicy.h>
#include <mmdeviceapi.h>
#include <avrt.h>
#include <tlhelp32.h>

#if defined(__has_include)
#if __has_include(<audioclientactivationparams.h>)
#include <audioclientactivationparams.h>
#define PROCLOOP_SDK_HAS_ACTIVATION_PARAMS 1
#endif
#endif

#ifndef PROCLOOP_SDK_HAS_ACTIVATION_PARAMS
#include "windows/activation_params.h"
#endif

// The process-loopback virtual device; older SDKs lack the name.
#ifndef VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK
#define VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK L"VAD\\Process_Loopback"
#endif

// Records whose layout the platform reads byte by byte.
static_assert(sizeof(AUDIOCLIENT_ACTIVATION_PARAMS) == 12, "activation record is three 32-bit fields");
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is packed");
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40, "WAVEFORMATEXTENSIBLE is packed: cbSize 22");
static_assert(sizeof(OSVERSIONINFOW) == 276, "RtlGetVersion checks the size field against 276");

// RtlGetVersion is not in any import library; it is looked up in ntdll at run time.
using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);

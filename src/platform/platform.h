// The program's one door to the operating system. Program files include this
// header and nothing platform-specific: on Windows it is the real SDK, on every
// other host a POSIX implementation with the same names, types and sizes.
#pragma once

#ifdef _WIN32
#include "platform/windows_sdk.h"
#else
#include "platform/posix/win32.h"
#endif

#include <cstdint>

// How executable names compare: Windows file names ignore case and are often
// given without ".exe"; POSIX file names are exact bytes.
#ifdef _WIN32
constexpr bool kExecutableNamesIgnoreCase = true;
#else
constexpr bool kExecutableNamesIgnoreCase = false;
#endif

// The process-loopback virtual device; older SDKs lack the name.
#ifndef VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK
#define VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK L"VAD\\Process_Loopback"
#endif

// Records whose layout the platform reads byte by byte.
static_assert(sizeof(DWORD) == 4, "DWORD is 32 bits on every host");
static_assert(sizeof(HRESULT) == 4, "HRESULT is 32 bits on every host");
static_assert(sizeof(GUID) == 16, "GUIDs are compared as 16 bytes");
static_assert(sizeof(AUDIOCLIENT_ACTIVATION_PARAMS) == 12, "activation record is three 32-bit fields");
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is packed");
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40, "WAVEFORMATEXTENSIBLE is packed");
static_assert(sizeof(OSVERSIONINFOW) == 276, "RtlGetVersion checks the size field against 276");

// RtlGetVersion is not in any import library; it is looked up in ntdll at run time.
using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);

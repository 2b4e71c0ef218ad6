// Windows half of the platform door: the real SDK, plus the process-loopback
// activation record that older SDKs (mingw-w64 among them) do not ship.
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
#include <fcntl.h>
#include <io.h>

#if defined(__has_include)
#if __has_include(<audioclientactivationparams.h>)
#include <audioclientactivationparams.h>
#define PROCLOOP_SDK_HAS_ACTIVATION_PARAMS 1
#endif
#endif

#ifndef PROCLOOP_SDK_HAS_ACTIVATION_PARAMS
#include "platform/activation_params.h"
#endif

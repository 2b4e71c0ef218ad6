#include "windows/capture_session.h"

CaptureSession::~CaptureSession() {
    if (started) audioClient->Stop();
    mmcss.reset();
    captureEvent.reset();
    std::vector<float>().swap(samples);
    captureClient.reset();
    audioClient.reset();
    operation.reset();
    if (comInitialized) CoUninitialize();
    target.reset();
}

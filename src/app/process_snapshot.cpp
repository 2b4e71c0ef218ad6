#include "app/process_snapshot.h"

#include <cstdio>

#include "platform/platform.h"

bool snapshotProcesses(std::vector<ProcessEntry>& out) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {  // NOLINT(performance-no-int-to-ptr): the SDK defines it so
        std::fprintf(stderr, "error: CreateToolhelp32Snapshot hr=0x%08X\n",
                     static_cast<unsigned>(HRESULT_FROM_WIN32(GetLastError())));
        return false;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more != FALSE; more = Process32NextW(snapshot, &entry)) {
        // Four bytes of UTF-8 per character cover both platforms' wide characters.
        char name[MAX_PATH * 4];
        if (WideCharToMultiByte(CP_UTF8, 0, entry.szExeFile, -1, name, static_cast<int>(sizeof name), nullptr,
                                nullptr) == 0) {
            name[0] = '\0';
        }
        out.push_back(ProcessEntry{entry.th32ProcessID, entry.th32ParentProcessID, name});
    }
    CloseHandle(snapshot);
    return true;
}

#include "windows/process_snapshot.h"

#include "windows/failure_line.h"
#include "windows/unique_handle.h"
#include "windows/windows_sdk.h"

bool snapshotProcesses(std::vector<ProcessEntry>& out) {
    HANDLE made = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (made == INVALID_HANDLE_VALUE) {  // NOLINT(performance-no-int-to-ptr): the SDK defines it so
        return reportFailure("CreateToolhelp32Snapshot", HRESULT_FROM_WIN32(GetLastError()));
    }
    const KernelHandle snapshot(made);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more != FALSE;
         more = Process32NextW(snapshot.get(), &entry)) {
        // Four bytes of UTF-8 per UTF-16 unit are more than enough.
        char name[MAX_PATH * 4];
        if (WideCharToMultiByte(CP_UTF8, 0, entry.szExeFile, -1, name, static_cast<int>(sizeof name), nullptr,
                                nullptr) == 0) {
            name[0] = '\0';
        }
        out.push_back(ProcessEntry{entry.th32ProcessID, entry.th32ParentProcessID, name});
    }
    return true;
}

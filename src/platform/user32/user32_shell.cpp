#include "platform/user32/user32_shell.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

namespace user32 {

bool openUrl(const std::wstring& address) {
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
}

std::wstring programFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring roamingFolder() {
    PWSTR path = nullptr;
    std::wstring folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &path))) folder = path;
    CoTaskMemFree(path);
    return folder;
}

bool folderWritable(const std::wstring& folder) {
    const std::wstring probe = folder + L"\\~tarnwick-" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

std::wstring settingsFile(const std::wstring& programFolder, const std::wstring& roaming, bool forWriting) {
    const std::wstring shared = programFolder + L"\\Tarnwick.ini";
    if (roaming.empty() || folderWritable(programFolder)) return shared;
    const std::wstring folder = roaming + L"\\Tarnwick";
    const std::wstring own = folder + L"\\Tarnwick.ini";
    const bool exists = GetFileAttributesW(own.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (!forWriting) return exists ? own : shared;
    if (!exists) {
        CreateDirectoryW(folder.c_str(), nullptr);
        CopyFileW(shared.c_str(), own.c_str(), TRUE);  // never over an existing copy
    }
    return own;
}

}  // namespace user32

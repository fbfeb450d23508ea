#include "os.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <random>

namespace mendly::keelswap::os {

namespace {

std::wstring widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string narrow(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string utf8(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

class Handle {
public:
    explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
    ~Handle() {
        if (valid()) ::CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE handle) {
        if (valid()) ::CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_;
};

constexpr std::array<DWORD, 3> kStandardHandles{STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};

// One argument as the C runtime splits it back (command_line.h): bare when
// it needs no quotes, otherwise quoted with backslash runs before a quote doubled.
std::wstring quoteArgument(const std::wstring& text) {
    if (!text.empty() && text.find_first_of(L" \t\n\v\"") == std::wstring::npos) return text;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : text) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        out += c;
        backslashes = 0;
    }
    out.append(backslashes * 2, L'\\');
    out += L'"';
    return out;
}

// Starts the program with inheritable copies of the standard handles, and
// only those (an explicit handle list); `process` receives its handle when
// asked for. False when it could not be started.
bool startProgram(const std::vector<std::string>& argv, HANDLE* process) {
    if (argv.empty() || argv.front().empty()) return false;
    std::wstring line;
    for (const auto& arg : argv) {
        if (!line.empty()) line += L' ';
        line += quoteArgument(widen(arg));
    }
    std::array<Handle, 3> copies;
    std::vector<HANDLE> inherited;
    for (std::size_t i = 0; i < kStandardHandles.size(); ++i) {
        const HANDLE own = ::GetStdHandle(kStandardHandles[i]);
        HANDLE copy = nullptr;
        if (own == nullptr || own == INVALID_HANDLE_VALUE ||
            !::DuplicateHandle(::GetCurrentProcess(), own, ::GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
            continue;
        copies[i].reset(copy);
        inherited.push_back(copy);
    }
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> storage(size);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    bool listed = !inherited.empty() && size > 0 && ::InitializeProcThreadAttributeList(attributes, 1, 0, &size);
    if (listed && !::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                                               inherited.size() * sizeof(HANDLE), nullptr, nullptr)) {
        ::DeleteProcThreadAttributeList(attributes);
        listed = false;
    }
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = copies[0].get();
    startup.StartupInfo.hStdOutput = copies[1].get();
    startup.StartupInfo.hStdError = copies[2].get();
    if (listed) startup.lpAttributeList = attributes;
    PROCESS_INFORMATION started{};
    const BOOL ok = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, inherited.empty() ? FALSE : TRUE,
                                     listed ? EXTENDED_STARTUPINFO_PRESENT : 0, nullptr, nullptr,
                                     &startup.StartupInfo, &started);
    if (listed) ::DeleteProcThreadAttributeList(attributes);
    if (!ok) return false;
    ::CloseHandle(started.hThread);
    if (process != nullptr)
        *process = started.hProcess;
    else
        ::CloseHandle(started.hProcess);
    return true;
}

// The file a link at `path` finally names; `path` when it is none.
std::wstring resolveDestination(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return path;
    Handle file(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return path;
    std::wstring name(32768, L'\0');
    const DWORD length = ::GetFinalPathNameByHandleW(file.get(), name.data(), static_cast<DWORD>(name.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= name.size()) return path;
    name.resize(length);
    if (name.rfind(L"\\\\?\\", 0) == 0 && name.size() > 6 && name[5] == L':') name = name.substr(4);
    return name;
}

// ".<name>.keelswap-" and six random letters or digits, beside the target:
// the shape launcher and tidewright clear away after a killed run.
std::wstring temporaryBeside(const std::filesystem::path& target) {
    static constexpr wchar_t kLetters[] = L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::mt19937 pick(seed());
    std::uniform_int_distribution<std::size_t> letter(0, std::size(kLetters) - 2);
    std::wstring suffix;
    for (int i = 0; i < 6; ++i) suffix += kLetters[letter(pick)];
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : L".";
    return (folder / (L"." + target.filename().wstring() + L".keelswap-" + suffix)).wstring();
}

struct FileIdentity {
    DWORD volume = 0;
    DWORD high = 0;
    DWORD low = 0;
};

bool identityOf(const std::wstring& path, FileIdentity& identity) {
    Handle file(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.valid() || !::GetFileInformationByHandle(file.get(), &info)) return false;
    identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

}  // namespace

std::string ownExecutablePath() {
    std::wstring name(MAX_PATH, L'\0');
    while (name.size() <= 32768) {
        const DWORD length = ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) return {};
        if (length < name.size()) {
            name.resize(length);
            return narrow(name);
        }
        name.resize(name.size() * 2);
    }
    return {};
}

ProcessWait waitForProcessExit(std::uint32_t pid, std::chrono::milliseconds limit) {
    if (pid == 0) return ProcessWait::NotOpened;
    Handle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (!process.valid()) return ProcessWait::NotOpened;
    // INFINITE is one more than the longest finite wait.
    const auto millis = static_cast<DWORD>(std::min<long long>(std::max<long long>(limit.count(), 0), INFINITE - 1));
    return ::WaitForSingleObject(process.get(), millis) == WAIT_OBJECT_0 ? ProcessWait::Ended : ProcessWait::TimedOut;
}

bool isSameFile(const std::string& a, const std::string& b) {
    const std::wstring wa = widen(a);
    const std::wstring wb = widen(b);
    if (::CompareStringOrdinal(wa.c_str(), static_cast<int>(wa.size()), wb.c_str(), static_cast<int>(wb.size()),
                               TRUE) == CSTR_EQUAL)
        return true;
    // Another spelling of the same file (a relative path, a short name, a link).
    FileIdentity ia;
    FileIdentity ib;
    return identityOf(wa, ia) && identityOf(wb, ib) && ia.volume == ib.volume && ia.high == ib.high &&
           ia.low == ib.low;
}

bool replaceWithCopy(const std::string& source, const std::string& destination) {
    const std::wstring from = widen(source);
    const DWORD attributes = ::GetFileAttributesW(from.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
    const std::wstring target = resolveDestination(widen(destination));
    // Copied beside the target, flushed, then moved over it in one step: the
    // target is the old file or the new one, never a part. A target that is
    // running cannot be replaced; the caller retries.
    const std::wstring temp = temporaryBeside(target);
    if (!::CopyFileW(from.c_str(), temp.c_str(), TRUE)) return false;
    bool ok = false;
    {
        Handle copy(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
        ok = copy.valid() && ::FlushFileBuffers(copy.get());
    }
    if (!ok || !::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ::SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}

bool removeTree(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(widen(path)), ec);
    return !ec;
}

bool spawnDetached(const std::vector<std::string>& argv) { return startProgram(argv, nullptr); }

bool replaceProcess(const std::vector<std::string>& argv) {
    // Windows cannot run another program in this process: it runs on this
    // console with these standard handles, and this process waits for it and
    // ends with its exit code, so whoever waits for this process sees the
    // program's result.
    HANDLE process = nullptr;
    if (!startProgram(argv, &process)) return false;
    ::WaitForSingleObject(process, INFINITE);
    DWORD code = 1;
    ::GetExitCodeProcess(process, &code);
    ::CloseHandle(process);
    std::fflush(nullptr);
    ::ExitProcess(code);
}

std::uint32_t currentProcessId() { return static_cast<std::uint32_t>(::GetCurrentProcessId()); }

void ensureStandardStreams() {
    for (int i = 0; i < 3; ++i) {
        const DWORD which = kStandardHandles[static_cast<std::size_t>(i)];
        const HANDLE own = ::GetStdHandle(which);
        if (own == nullptr || own == INVALID_HANDLE_VALUE) {
            const HANDLE null = ::CreateFileW(L"NUL", i == 0 ? GENERIC_READ : GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            if (null != INVALID_HANDLE_VALUE) ::SetStdHandle(which, null);
        }
        if (::_get_osfhandle(i) < 0) {
            const int opened = ::_wopen(L"NUL", i == 0 ? _O_RDONLY : _O_WRONLY);
            if (opened >= 0 && opened != i) {
                ::_dup2(opened, i);
                ::_close(opened);
            }
        }
    }
}

}  // namespace mendly::keelswap::os

#include "platform/process.h"
#include "platform/wide_text_win.h"

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cwctype>

namespace mendly::platform {
namespace {

// One argument as CommandLineToArgvW reads it back: bare when it needs no
// quotes, otherwise in double quotes with every backslash run before a quote
// (an escaped one or the closing one) doubled.
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

std::wstring commandLineOf(const std::vector<std::string>& argv) {
    std::wstring line;
    for (const std::string& arg : argv) {
        if (!line.empty()) line += L' ';
        line += quoteArgument(utf8ToWide(arg));
    }
    return line;
}

// Inheritable copies of this process's standard handles, handed to a child
// explicitly so that nothing else is inherited; closed with this object.
class InheritedStandardHandles {
public:
    InheritedStandardHandles() {
        constexpr std::array<DWORD, 3> kWhich{STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
        for (std::size_t i = 0; i < kWhich.size(); ++i) {
            const HANDLE own = ::GetStdHandle(kWhich[i]);
            if (own == nullptr || own == INVALID_HANDLE_VALUE) continue;
            HANDLE copy = nullptr;
            if (::DuplicateHandle(::GetCurrentProcess(), own, ::GetCurrentProcess(), &copy, 0, TRUE,
                                  DUPLICATE_SAME_ACCESS)) {
                handles_[i].reset(copy);
                list_.push_back(copy);
            }
        }
    }
    HANDLE at(std::size_t i) const { return handles_[i].get(); }
    std::vector<HANDLE>& list() { return list_; }

private:
    std::array<ScopedHandle, 3> handles_;
    std::vector<HANDLE> list_;
};

// The attribute list that restricts inheritance to `handles`; empty when
// the system cannot make one (the handles are then inherited with whatever
// else is inheritable, which our own files and sockets never are).
class HandleListAttribute {
public:
    explicit HandleListAttribute(std::vector<HANDLE>& handles) {
        if (handles.empty()) return;
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        if (size == 0 || !::InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
        if (!::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                                         handles.size() * sizeof(HANDLE), nullptr, nullptr)) {
            ::DeleteProcThreadAttributeList(list);
            return;
        }
        list_ = list;
    }
    ~HandleListAttribute() {
        if (list_ != nullptr) ::DeleteProcThreadAttributeList(list_);
    }
    HandleListAttribute(const HandleListAttribute&) = delete;
    HandleListAttribute& operator=(const HandleListAttribute&) = delete;
    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

private:
    std::vector<char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// Starts the command line of `argv` with this process's standard handles and
// no other inherited handle. False when it could not be started.
bool startProcess(const std::vector<std::string>& argv, const std::filesystem::path& workingFolder, DWORD flags) {
    if (argv.empty() || argv[0].empty()) return false;
    std::wstring line = commandLineOf(argv);
    InheritedStandardHandles standard;
    HandleListAttribute handleList(standard.list());

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = standard.at(0);
    startup.StartupInfo.hStdOutput = standard.at(1);
    startup.StartupInfo.hStdError = standard.at(2);
    if (handleList.get() != nullptr) {
        startup.lpAttributeList = handleList.get();
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    PROCESS_INFORMATION started{};
    const BOOL ok = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, standard.list().empty() ? FALSE : TRUE,
                                     flags, nullptr, workingFolder.empty() ? nullptr : workingFolder.c_str(),
                                     &startup.StartupInfo, &started);
    if (!ok) return false;
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return true;
}

constexpr std::array<std::wstring_view, 4> kProgramExtensions{L".exe", L".com", L".bat", L".cmd"};

bool hasProgramExtension(const std::filesystem::path& path) {
    std::wstring extension = path.extension().wstring();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    return std::find(kProgramExtensions.begin(), kProgramExtensions.end(), extension) != kProgramExtensions.end();
}

}  // namespace

std::filesystem::path executablePath() {
    std::wstring name(MAX_PATH, L'\0');
    while (name.size() <= 32768) {
        const DWORD length = ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) return {};
        if (length < name.size()) {
            name.resize(length);
            return name;
        }
        name.resize(name.size() * 2);  // truncated: try a larger buffer
    }
    return {};
}

bool isDebuggerAttached() {
    BOOL remote = FALSE;
    return ::IsDebuggerPresent() || (::CheckRemoteDebuggerPresent(::GetCurrentProcess(), &remote) && remote);
}

std::vector<std::string> processArguments() {
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (arguments == nullptr) return {};
    std::vector<std::string> out;
    out.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) out.push_back(wideToUtf8(arguments[i]));
    ::LocalFree(arguments);
    return out;
}

std::uint32_t currentProcessId() { return static_cast<std::uint32_t>(::GetCurrentProcessId()); }

bool isExecutableFile(const std::filesystem::path& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
           hasProgramExtension(path);
}

void ensureStandardStreams() {
    constexpr std::array<DWORD, 3> kWhich{STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 3; ++i) {
        const HANDLE own = ::GetStdHandle(kWhich[static_cast<std::size_t>(i)]);
        if (own == nullptr || own == INVALID_HANDLE_VALUE) {
            const HANDLE null = ::CreateFileW(L"NUL", i == 0 ? GENERIC_READ : GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            if (null != INVALID_HANDLE_VALUE) ::SetStdHandle(kWhich[static_cast<std::size_t>(i)], null);
        }
        // The C runtime's descriptors 0-2 likewise, so that no file opened
        // later takes one of their numbers.
        if (::_get_osfhandle(i) < 0) {
            const int opened = ::_wopen(L"NUL", i == 0 ? _O_RDONLY : _O_WRONLY);
            if (opened >= 0 && opened != i) {
                ::_dup2(opened, i);
                ::_close(opened);
            }
        }
    }
}

bool spawnDetached(const std::vector<std::string>& argv, const std::filesystem::path& workingFolder) {
    return startProcess(argv, workingFolder, CREATE_NO_WINDOW);
}

bool replaceProcess(const std::vector<std::string>& argv) {
    // Windows cannot run another program in this process: the program starts
    // on this console, with this process's standard handles and folder, and
    // this process ends at once with code 0 (the new program may wait for it).
    if (!startProcess(argv, {}, 0)) return false;
    std::fflush(nullptr);
    ::ExitProcess(0);
}

bool replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    constexpr DWORD kReplace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (::MoveFileExW(from.c_str(), to.c_str(), kReplace)) return true;
    if (::GetLastError() != ERROR_NOT_SAME_DEVICE) return false;
    // Another volume: copy beside the target, then move into place.
    std::filesystem::path temp = to;
    temp += ".moving";
    if (!::CopyFileW(from.c_str(), temp.c_str(), FALSE) || !::MoveFileExW(temp.c_str(), to.c_str(), kReplace)) {
        ::DeleteFileW(temp.c_str());
        return false;
    }
    ::DeleteFileW(from.c_str());
    return true;
}

}  // namespace mendly::platform

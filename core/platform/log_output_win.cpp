#include "platform/log_output.h"
#include "platform/wide_text_win.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdint>

// The log is a C runtime descriptor over a Win32 handle (_open_osfhandle),
// so the object keeps the same members on every platform.
namespace mendly::platform {

LogOutput::~LogOutput() { close(); }

bool LogOutput::open(const std::filesystem::path& path) {
    close();
    constexpr DWORD kShared = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    // Emptied once; then opened for appending only, so that every write lands
    // at the end of the file as it is then, whoever else appends meanwhile.
    ScopedHandle emptied(::CreateFileW(path.c_str(), GENERIC_WRITE, kShared, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!emptied.valid()) return false;
    emptied.reset();
    const HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, kShared, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    fd_ = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_APPEND | _O_BINARY);
    if (fd_ < 0) ::CloseHandle(file);
    return fd_ >= 0;
}

bool LogOutput::append(std::string_view line) {
    if (fd_ < 0) return false;
    const auto file = reinterpret_cast<HANDLE>(::_get_osfhandle(fd_));
    while (!line.empty()) {
        DWORD written = 0;
        const auto piece = static_cast<DWORD>(std::min<std::size_t>(line.size(), 1u << 20));
        if (!::WriteFile(file, line.data(), piece, &written, nullptr) || written == 0) return false;
        line.remove_prefix(written);
    }
    return true;
}

void LogOutput::close() {
    if (fd_ >= 0) ::_close(fd_);
    fd_ = -1;
}

}  // namespace mendly::platform

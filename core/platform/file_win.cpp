#include "platform/file.h"
#include "platform/file_presence.h"
#include "platform/wide_text_win.h"

#include <algorithm>

namespace mendly::platform {
namespace {

// The file a link (a symbolic link or junction, any reparse point) at `path`
// finally names; `path` itself when it is no link or cannot be followed.
std::filesystem::path finalTarget(const std::filesystem::path& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return path;
    ScopedHandle file(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return path;
    std::wstring name(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = ::GetFinalPathNameByHandleW(file.get(), name.data(), static_cast<DWORD>(name.size()),
                                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return path;
        if (length < name.size()) {
            name.resize(length);
            // "\\?\C:\..." -> "C:\..."; "\\?\UNC\server\..." stays as it is.
            if (name.rfind(L"\\\\?\\", 0) == 0 && name.size() > 6 && name[5] == L':') name = name.substr(4);
            return name;
        }
        name.resize(length);
    }
    return path;
}

bool writeAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const auto piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        if (!::WriteFile(file, bytes.data(), piece, &written, nullptr) || written == 0) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

// Attributes a replaced file keeps (read-only files are never replaced).
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

}  // namespace

PathPresence presenceOf(const std::filesystem::path& path) {
    if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return PathPresence::Present;
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return PathPresence::Missing;
    return PathPresence::Inaccessible;
}

FileWrite replaceWholeFile(const std::filesystem::path& path, std::string_view bytes) {
    const std::filesystem::path target = finalTarget(path);
    const DWORD old = ::GetFileAttributesW(target.c_str());
    const bool exists = old != INVALID_FILE_ATTRIBUTES;
    if (exists && (old & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) return FileWrite::CannotWrite;

    // A folder's read-only mark means nothing to Windows; a folder that
    // refuses new files shows when the temporary file cannot be made.
    const std::filesystem::path temp = temporaryNameFor(target);
    ScopedHandle file(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    exists ? (old & kKeptAttributes) | FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
    if (!file.valid()) return FileWrite::CannotWrite;
    bool ok = writeAll(file.get(), bytes);
    ok = ::FlushFileBuffers(file.get()) && ok;
    ok = ::CloseHandle(file.release()) && ok;
    if (!ok) {
        ::DeleteFileW(temp.c_str());
        return FileWrite::ShortWrite;
    }
    if (!::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ::DeleteFileW(temp.c_str());
        return FileWrite::CannotWrite;
    }
    return FileWrite::Written;
}

}  // namespace mendly::platform

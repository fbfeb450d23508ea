#include "platform/file_map.h"

#include <windows.h>

namespace mendly::platform {

MappedFile::~MappedFile() { close(); }

void MappedFile::close() {
    if (data_ != nullptr) ::UnmapViewOfFile(data_);
    data_ = nullptr;
    size_ = 0;
}

bool MappedFile::open(const std::filesystem::path& path) {
    close();
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool ok = ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileSizeEx(file, &size) != 0;
    if (ok && size.QuadPart > 0) {
        const HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        ok = mapping != nullptr;
        if (ok) {
            const void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
            ::CloseHandle(mapping);  // the view keeps the mapping
            ok = view != nullptr;
            if (ok) {
                data_ = view;
                size_ = static_cast<std::size_t>(size.QuadPart);
            }
        }
    }
    ::CloseHandle(file);
    return ok;
}

}  // namespace mendly::platform

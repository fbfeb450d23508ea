#include "platform/log_output.h"
#include "platform/descriptor_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace mendly::platform {

LogOutput::~LogOutput() { close(); }

bool LogOutput::open(const std::filesystem::path& path) {
    close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    return fd_ >= 0;
}

bool LogOutput::append(std::string_view line) {
    // O_APPEND puts each write at the end as the file is then; a line goes in
    // one write unless the kernel takes it in parts (a signal, a full disk).
    return fd_ >= 0 && writeToDescriptor(fd_, line);
}

void LogOutput::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace mendly::platform

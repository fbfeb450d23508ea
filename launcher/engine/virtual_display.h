#pragma once
// Tests only: a private Xvfb X server on a display number it picks itself
// (-displayfd), so window tests never touch a real desktop and never clash
// with each other. The server is ended when the object goes away.
#include <string>
#include <sys/types.h>

namespace mendly::test {

class VirtualDisplay {
public:
    VirtualDisplay() = default;
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // Starts the server (1280 x 800, 24-bit) and waits until it accepts
    // clients. False when Xvfb is missing or does not come up within 20 s.
    bool start();
    // ":N" once started.
    const std::string& name() const { return name_; }

private:
    pid_t pid_ = -1;
    std::string name_;
};

}  // namespace mendly::test

#pragma once
// Sockets for the HTTP client that programs we start never inherit.
// POSIX: socket_posix.cpp (SOCK_CLOEXEC). Windows has none: WinHTTP opens
// its own sockets, which programs we start do not inherit.
namespace mendly::platform {

// A new socket of this family, type and protocol, close-on-exec; -1 on failure.
int openPrivateSocket(int family, int type, int protocol);

}  // namespace mendly::platform

#pragma once
// libcurl's process-wide set-up and the easy handle each thread reuses.
//
// curl_global_init runs once, on the first call from any thread. Each thread
// gets its own easy handle, reset to default options before every use, so its
// connection cache and TLS sessions survive between the calls of one worker;
// the handle is cleaned up when the thread ends.
#include <curl/curl.h>

namespace mendly {

// The calling thread's easy handle, already curl_easy_reset; null when
// libcurl could not be initialised or the handle could not be created.
CURL* threadEasyHandle();

}  // namespace mendly

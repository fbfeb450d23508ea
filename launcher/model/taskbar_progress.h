#pragma once
// The progress indicator on the launcher's entry in the desktop's task bar or
// dock. UI thread only. An implementation that found no desktop to talk to
// does nothing.
#include <cstdint>

namespace mendly {

class TaskbarProgress {
public:
    virtual ~TaskbarProgress() = default;
    virtual void off() = 0;    // no indicator
    virtual void error() = 0;  // the run failed
    virtual void busy() = 0;   // working, amount unknown
    // done of total; a total of 0 shows busy instead.
    virtual void value(std::int64_t done, std::int64_t total) = 0;
};

}  // namespace mendly

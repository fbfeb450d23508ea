#pragma once
// How a request that did not succeed ended, as a value beside its sentence:
// callers decide on it (retry, try another host) and never on the sentence.
// Plain data; thread-safe functions.
#include <string>

namespace mendly {

struct HttpFailure {
    enum class Kind {
        None,       // the request succeeded (or has not run)
        Cancelled,  // the cancel flag ended it
        Status,     // an answer other than 200 arrived: `status`
        Network,    // the connection failed: `code`, the platform's error number
        Body,       // the body was refused here (sink, size limit, memory)
        Address,    // the address could not be used
    };
    Kind kind = Kind::None;
    long status = 0;
    int code = 0;
};

inline HttpFailure statusFailure(long status) { return {HttpFailure::Kind::Status, status, 0}; }
inline HttpFailure networkFailure(int code) { return {HttpFailure::Kind::Network, 0, code}; }

// Worth asking the same host again after a pause: the connection was refused,
// reset, dropped or timed out, or the host answered 5xx. A missing file, a
// refusal (401/403), a bad address, a failed certificate, an unresolvable name
// and everything refused here are not.
bool isTransientFailure(const HttpFailure& failure);

// What the host did, completing a sentence that starts with its name:
// "refused the connection", "dropped the connection", "did not answer in
// time", "answered HTTP 503", "could not be reached", or "failed".
std::u16string hostFailurePhrase(const HttpFailure& failure);

}  // namespace mendly

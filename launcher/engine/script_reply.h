#pragma once
// The answer to one page call (the promise that the page's xcall() returned).
// Copies share one answer: the first answer() or fail() settles the promise
// and later ones are ignored; when the last copy goes away unanswered the
// promise resolves to undefined, so the page never waits forever.
// UI thread only: a handler that works on another thread posts back to the
// UI thread and answers there.
#include <memory>
#include <string_view>

#include <nlohmann/json.hpp>

using WebKitScriptMessageReply = struct _WebKitScriptMessageReply;
using JSCContext = struct _JSCContext;

namespace mendly {

class ScriptReply {
public:
    // Takes a reference on `reply` and `context` (the context the call's value
    // lives in; answers are built there).
    ScriptReply(WebKitScriptMessageReply* reply, JSCContext* context);

    // A JSON value; a discarded value (nlohmann::json::value_t::discarded)
    // answers undefined.
    void answer(const nlohmann::json& value) const;
    // Rejects the promise with an Error carrying `message`.
    void fail(std::string_view message) const;
    bool answered() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

// The value that answers undefined.
nlohmann::json undefinedValue();

}  // namespace mendly

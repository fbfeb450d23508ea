#include "script_reply.h"

#include <webkit2/webkit2.h>

#include <string>

namespace mendly {

struct ScriptReply::State {
    WebKitScriptMessageReply* reply = nullptr;
    JSCContext* context = nullptr;
    bool answered = false;

    void settle(JSCValue* value) {
        webkit_script_message_reply_return_value(reply, value);
        answered = true;
    }

    ~State() {
        if (!answered) {
            g_autoptr(JSCValue) undefined = jsc_value_new_undefined(context);
            settle(undefined);
        }
        webkit_script_message_reply_unref(reply);
        g_object_unref(context);
    }
};

nlohmann::json undefinedValue() { return nlohmann::json(nlohmann::json::value_t::discarded); }

ScriptReply::ScriptReply(WebKitScriptMessageReply* reply, JSCContext* context) : state_(std::make_shared<State>()) {
    state_->reply = webkit_script_message_reply_ref(reply);
    state_->context = JSC_CONTEXT(g_object_ref(context));
}

void ScriptReply::answer(const nlohmann::json& value) const {
    if (state_->answered) return;
    if (value.is_discarded()) {
        g_autoptr(JSCValue) undefined = jsc_value_new_undefined(state_->context);
        state_->settle(undefined);
        return;
    }
    // Strings from the launcher are UTF-8; an invalid sequence must not abort
    // the UI thread, so it is replaced rather than thrown about.
    const std::string text = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    g_autoptr(JSCValue) js = jsc_value_new_from_json(state_->context, text.c_str());
    if (js == nullptr) {
        fail("the native result could not be converted");
        return;
    }
    state_->settle(js);
}

void ScriptReply::fail(std::string_view message) const {
    if (state_->answered) return;
    webkit_script_message_reply_return_error_message(state_->reply, std::string(message).c_str());
    state_->answered = true;
}

bool ScriptReply::answered() const { return state_->answered; }

}  // namespace mendly

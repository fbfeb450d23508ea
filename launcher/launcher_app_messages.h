#pragma once
// The UI thread's dispatch of the launcher's private window messages (their
// numbers and payloads: bridge/launcher_messages.h): each message's handler
// in the tasks, checks and self-update, and the payloads freed.
#include "bridge/launcher_messages.h"
#include "bridge/page_host.h"
#include "model/launcher_state.h"
#include "post_channel.h"

namespace mendly {

// The UI thread's handling of one private message: the state changes, page
// calls and follow-up posts of each message, and the payload freed in every
// case. Without a state only the payload is freed. Other numbers are ignored.
void handleLauncherMessage(LauncherState* state, PageHost& host, const PostedMessage& message);

// Deletes the heap payload that `message` carries, if its kind has one.
void freeLauncherPayload(const PostedMessage& message);

}  // namespace mendly

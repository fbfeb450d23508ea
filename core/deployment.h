#pragma once
// Deployment values fixed at configure time from config/deployment.json.
// The two patch hosts live in the embedded server catalog instead.
namespace mendly::deployment {
const char* launcherUpdateHost();
const char* website();
const char* chat();
const char* donate();
}  // namespace mendly::deployment

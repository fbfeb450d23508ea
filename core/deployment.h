#pragma once
// Deployment values fixed at configure time from config/deployment.json.
// The two patch hosts live in the embedded server catalog instead.
// Defined by the deployment object each program links: mendly_deployment, or
// in a test build mendly_deployment_loopback / mendly_deployment_signed, whose
// launcher-update host is the environment's MENDLY_TEST_UPDATE_HOST.
#include <string>
#include <vector>

namespace mendly::deployment {
const char* launcherUpdateHost();
const char* website();
const char* chat();
const char* donate();
// The public keys (base64 text) that sign update information and the built-in
// servers' manifests; empty: updates are not signed.
std::vector<std::string> signingKeys();
}  // namespace mendly::deployment

#pragma once
// Whether a server's patch address can be used before it is saved: its
// manifest is fetched and judged the way an update run judges it (the
// signature when `trust` asks for one, the document's form, a file list that
// is not empty, and a signed manifest's own claims), without touching any
// installation. Runs on the calling thread and blocks for the downloads
// (at most kPatchAddressCheckTime in all); thread-safe like httpGet.
#include <chrono>
#include <string>

#include "catalog/server_entry.h"
#include "trust/trusted_keys.h"

namespace mendly {

inline constexpr std::chrono::seconds kPatchAddressCheckTime{30};

// Empty when a run would take the entry's manifest; otherwise one sentence,
// naming the address when it did not answer:
//   "Could not fetch the patch manifest from <url>: <httpGet's sentence>"
//   "<url> does not serve a valid patch manifest (<what is wrong>)."
//   "<url> serves a patch manifest that lists no files."
//   a signature or signed-manifest sentence of manifest_policy.h.
std::u16string patchAddressProblem(const ServerEntry& entry, const TrustedKeys& trust);

}  // namespace mendly

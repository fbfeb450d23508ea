#pragma once
// The push of native state into the page. UI thread only. Every run re-reads
// the selected installation's language file and probes its folder.
#include "bridge/page_host.h"
#include "model/launcher_state.h"

namespace mendly {

// setSelectedServerHeader, setSelectedServerVersion (the text and what it is:
// versionShownName), setSelectedLanguage, setPlayButtonCaption, then
// pushFooterState. Nothing without a state.
void refreshPage(const LauncherState* state, PageHost& host);

// updateLauncherFooter(footer state JSON).
void pushFooterState(const LauncherState& state, PageHost& host);

}  // namespace mendly

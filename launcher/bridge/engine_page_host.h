#pragma once
// PageHost over the launcher's EngineWindow (GTK/WebKit). UI thread only; the
// window must outlive the host.
#include "engine_window.h"
#include "bridge/page_host.h"

namespace mendly {

class EnginePageHost : public PageHost {
public:
    explicit EnginePageHost(EngineWindow& window) : window_(window) {}

    void callPage(std::string_view function, const nlohmann::json& args) override;
    void showNotice(const Notice& notice) override;
    std::shared_ptr<PatchWindow> mailbox() override { return window_.channel(); }
    void runDetached(std::function<nlohmann::json()> work, std::function<void(nlohmann::json)> done) override;

private:
    EngineWindow& window_;
};

}  // namespace mendly

#include "trust/trusted_keys.h"

#include "deployment.h"
#include "log/log_file.h"

namespace mendly {

TrustedKeys trustedKeysFromTexts(const std::vector<std::string>& texts) {
    TrustedKeys trust;
    trust.required = !texts.empty();
    for (const std::string& text : texts)
        if (const auto key = parsePublicKeyText(text)) trust.keys.push_back(*key);
    return trust;
}

const TrustedKeys& deploymentTrust() {
    static const TrustedKeys trust = trustedKeysFromTexts(deployment::signingKeys());
    return trust;
}

void logUpdateSigningState() {
    if (!deploymentTrust().required) LogFile::write(u"WARNING: updates are not signed in this build");
}

}  // namespace mendly

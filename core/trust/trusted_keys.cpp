#include "trust/trusted_keys.h"

#include "deployment.h"
#include "log/log_file.h"
#include "log/text.h"

namespace mendly {

TrustedKeys trustedKeysFromTexts(const std::vector<std::string>& texts) {
    TrustedKeys trust;
    trust.required = !texts.empty();
    for (const std::string& text : texts)
        if (const auto key = parsePublicKeyText(text); key && isUsablePublicKey(*key)) trust.keys.push_back(*key);
    return trust;
}

const TrustedKeys& deploymentTrust() {
    static const TrustedKeys trust = trustedKeysFromTexts(deployment::signingKeys());
    return trust;
}

void logUpdateSigningState() {
    if (!deploymentTrust().required) LogFile::write(u"WARNING: updates are not signed in this build");
    for (const std::string& text : deployment::signingKeys()) {
        const auto key = parsePublicKeyText(text);
        if (!key || !isUsablePublicKey(*key))
            LogFile::write(u"ERROR: A signing key of this build is not a usable public key: " + toWide(text));
    }
}

}  // namespace mendly

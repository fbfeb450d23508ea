#include "catalog/server_addition.h"

#include <algorithm>

#include "catalog/custom_list_splice.h"
#include "catalog/delete_safety.h"
#include "catalog/entry_confinement.h"
#include "catalog/file_bytes.h"
#include "catalog/install_layout.h"
#include "catalog/installation_name.h"
#include "catalog/manifest_trust.h"
#include "catalog/path_compare.h"
#include "catalog/path_text.h"
#include "log/text.h"
#include "net/url_split.h"
#include "platform/file.h"

namespace mendly {
namespace {

constexpr char16_t kBadAddress[] =
    u"The patch address must be an http or https address that ends with the server's folder, for example "
    u"https://patch.example.org:8080/aurum.";
constexpr char16_t kNameInUse[] = u"That name is already in use. Choose a different name.";
constexpr char16_t kListUnreadable[] =
    u"customlist.json could not be read as a server list, so the server was not added. The file was left as it is.";

ServerAdditionResult refuse(ServerAddition outcome, std::u16string sentence, const ServerEntry& entry) {
    return {outcome, std::move(sentence), entry};
}

// A server name travels unescaped in every patch address.
bool isUsableServerName(std::string_view server) {
    if (server.empty() || server == "." || server == "..") return false;
    return std::none_of(server.begin(), server.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7F || std::string_view("/\\?#%").find(c) != std::string_view::npos;
    });
}

bool isUsableAddress(const ServerEntry& entry) {
    if (!isUsableServerName(entry.server)) return false;
    const std::u16string base = trimServerBase(entry);
    const bool http = base.size() > 7 && equalsIgnoreAsciiCase(std::u16string_view(base).substr(0, 7), u"http://");
    const bool https = base.size() > 8 && equalsIgnoreAsciiCase(std::u16string_view(base).substr(0, 8), u"https://");
    if (!http && !https) return false;
    if (base.find_first_of(u"?#") != std::u16string::npos) return false;
    SplitUrl parts;
    std::u16string ignored;
    return splitUrl(manifestUrl(entry), parts, ignored);
}

// Empty when the name may be taken; else why not.
std::u16string nameProblem(const std::filesystem::path& programFolder, const ServerCatalog& catalog,
                           const ServerEntry& entry) {
    std::u16string error;
    if (!validateInstallationName(toWide(entry.name), error)) return error;
    for (const ServerEntry& other : catalog.entries)
        if (equalsIgnoreAsciiCase(other.name, entry.name)) return kNameInUse;
    if (!staysInClients(programFolder, defaultInstallFolder(programFolder, entry)))
        return u"That name leads out of the clients folder.";
    return {};
}

// Empty when the entry's installation folder may hold it; else why not.
std::u16string folderProblem(const std::filesystem::path& programFolder, const ServerCatalog& catalog,
                             const ServerEntry& entry) {
    const std::filesystem::path chosen = widePath(toWide(entry.installPath));
    if (!entry.installPath.empty() && !chosen.is_absolute()) return u"The installation folder must be a full path.";
    const std::filesystem::path folder = installFolder(programFolder, entry);
    if (isRootPath(folder) || samePath(folder, programFolder) || isAncestorPath(folder, programFolder) ||
        samePath(folder, programFolder / "clients"))
        return u"That folder cannot hold an installation.";
    for (const ServerEntry& other : catalog.entries)
        if (samePath(installFolder(programFolder, other), folder))
            return u"That folder already holds the installation \"" + toWide(other.name) + u"\".";
    return {};
}

// The entry with its key in canonical text; false when there is a key and
// it is not one that may be trusted.
bool canonicalKey(ServerEntry& entry) {
    if (entry.manifestKey.empty()) return true;
    const auto key = parsePublicKeyText(entry.manifestKey);
    if (!key || !isUsablePublicKey(*key)) return false;
    entry.manifestKey = publicKeyText(*key);
    return true;
}

// The file's bytes after `entry` is appended, or the refusal.
std::optional<std::string> listWithEntry(const std::filesystem::path& path, const ServerEntry& entry,
                                         ServerAdditionResult& refusal) {
    std::string bytes;
    const FileRead read = readFileBytes(path, bytes);
    std::optional<std::string> text;
    if (read == FileRead::Missing || (read == FileRead::Read && bytes.empty())) {
        nlohmann::json document = nlohmann::json::object();
        document["servers"] = nlohmann::json::array({serverEntryToJson(entry)});
        text = jsonFileText(document);
    } else if (read == FileRead::Read) {
        // Names in the file count as well: entries the catalog left out are still there.
        if (const auto existing = parseServerList(bytes)) {
            for (const ServerEntry& other : *existing)
                if (equalsIgnoreAsciiCase(other.name, entry.name)) {
                    refusal = refuse(ServerAddition::NameRefused, kNameInUse, entry);
                    return std::nullopt;
                }
        }
        text = spliceCustomEntry(bytes, entry);
    }
    if (!text) refusal = refuse(ServerAddition::ListRefused, kListUnreadable, entry);
    return text;
}

}  // namespace

std::optional<ServerEntry> entryForRequest(const ServerRequest& request, ServerAdditionResult& refusal) {
    ServerEntry entry;
    entry.name = toUtf8(trimWide(request.name));
    entry.desc = entry.name;
    entry.launchExecutable = "kaltrisclient.exe";
    entry.manifestKey = toUtf8(trimWide(request.key));
    if (!request.folder.empty()) entry.installPath = toUtf8(pathText(request.folder));

    std::u16string address = trimWide(request.address);
    while (!address.empty() && (address.back() == u'/' || address.back() == u'\\')) address.pop_back();
    constexpr std::u16string_view kManifest = u".manifest";
    if (address.size() > kManifest.size() &&
        equalsIgnoreAsciiCase(std::u16string_view(address).substr(address.size() - kManifest.size()), kManifest))
        address.resize(address.size() - kManifest.size());
    const std::size_t scheme = address.find(u"://");
    const std::size_t slash = address.rfind(u'/');
    if (scheme == std::u16string::npos || slash == std::u16string::npos || slash < scheme + 3) {
        refusal = refuse(ServerAddition::AddressRefused, kBadAddress, entry);
        return std::nullopt;
    }
    entry.patchBaseUrl = toUtf8(address.substr(0, slash));
    entry.server = toUtf8(address.substr(slash + 1));
    return entry;
}

ServerAdditionResult addServer(const std::filesystem::path& programFolder, const ServerCatalog& catalog,
                               const ServerRequest& request, const PatchAddressCheck& check) {
    ServerAdditionResult refusal;
    const auto entry = entryForRequest(request, refusal);
    if (!entry) return refusal;
    return addServerEntry(programFolder, catalog, *entry, check);
}

ServerAdditionResult addServerEntry(const std::filesystem::path& programFolder, const ServerCatalog& catalog,
                                    const ServerEntry& given, const PatchAddressCheck& check) {
    ServerEntry entry = given;
    entry.name = toUtf8(trimWide(toWide(entry.name)));
    if (const std::u16string problem = nameProblem(programFolder, catalog, entry); !problem.empty())
        return refuse(ServerAddition::NameRefused, problem, entry);
    if (!isUsableAddress(entry)) return refuse(ServerAddition::AddressRefused, kBadAddress, entry);
    if (!canonicalKey(entry))
        return refuse(ServerAddition::KeyRefused, u"That key is not a usable public key.", entry);
    if (const std::u16string problem = folderProblem(programFolder, catalog, entry); !problem.empty())
        return refuse(ServerAddition::FolderRefused, problem, entry);
    if (!entry.launchExecutable.empty() &&
        !executableInside(installFolder(programFolder, entry), entry.launchExecutable))
        return refuse(ServerAddition::ExecutableRefused,
                      u"The server's launchExecutable leads out of its installation.", entry);

    // Refused before anything is fetched when the list could never take it.
    const std::filesystem::path path = customListPath(programFolder);
    ServerAdditionResult refusal;
    if (!listWithEntry(path, entry, refusal)) return refusal;

    ServerCatalog withEntry = catalog;
    withEntry.entries.push_back(entry);
    const std::u16string problem = check(entry, manifestTrust(withEntry, withEntry.entries.size() - 1));
    if (!problem.empty()) return refuse(ServerAddition::CheckFailed, problem, entry);

    // Read again: the other program may have changed the file during the check.
    const auto text = listWithEntry(path, entry, refusal);
    if (!text) return refusal;
    if (platform::replaceWholeFile(path, *text) != platform::FileWrite::Written)
        return refuse(ServerAddition::ListNotWritten, u"Could not update customlist.json.", entry);
    return {ServerAddition::Added, {}, entry};
}

}  // namespace mendly

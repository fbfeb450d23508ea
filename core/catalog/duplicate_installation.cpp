#include "catalog/duplicate_installation.h"

#include <system_error>

#include "catalog/install_layout.h"
#include "catalog/installation_name.h"
#include "catalog/path_compare.h"
#include "deployment.h"
#include "log/text.h"

namespace mendly {
namespace {

constexpr char16_t kWouldOverwrite[] = u"The duplicate would overwrite the original installation.";
constexpr char16_t kCopyFailed[] = u"Could not copy the existing installation.";

InstallationResult fail(InstallationResult result, std::u16string text, std::u16string& error) {
    error = std::move(text);
    return result;
}

// The key a copy's manifests must be signed by. A built-in entry carries no
// "manifestKey" of its own (the build's signing keys sign its manifests), so
// its copy names the build's first key: a copy is a custom entry, and without
// a key it would take unsigned manifests.
std::string manifestKeyOf(const ServerEntry& source, bool builtIn) {
    if (!builtIn || !source.manifestKey.empty()) return source.manifestKey;
    const std::vector<std::string> keys = deployment::signingKeys();
    return keys.empty() ? std::string() : keys.front();
}

// The copy would write into the source, or the source lies inside the copy's
// folder (so filling the copy would overwrite it): the same folder, one
// inside the other, or the same folder reached through a link.
bool overlaps(const std::filesystem::path& source, const std::filesystem::path& target) {
    if (samePath(source, target) || isAncestorPath(source, target) || isAncestorPath(target, source))
        return true;
    std::error_code ec;
    return std::filesystem::equivalent(source, target, ec) && !ec;
}

// Copies every file below `source` to the same place below `target`,
// replacing files of the same name and creating folders as needed; other
// files in `target` stay. Links in the source are followed and copied as what
// they point to. False on any error.
bool copyFolderContents(const std::filesystem::path& source, const std::filesystem::path& target) {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(source, fs::directory_options::follow_directory_symlink, ec), end;
         !ec && it != end; it.increment(ec)) {
        const fs::path to = target / it->path().lexically_relative(source);
        if (it->is_directory(ec)) {
            fs::create_directories(to, ec);
        } else if (!ec) {
            // A file (or link) already there is removed first: a link is not
            // written through, and the Windows standard library refuses to
            // copy over a file (it takes any two files on one volume for the
            // same file).
            std::error_code missing;
            if (fs::exists(fs::symlink_status(to, missing))) fs::remove(to, ec);
            if (!ec) fs::copy_file(it->path(), to, ec);
        }
        if (ec) return false;
    }
    return !ec;
}

}  // namespace

InstallationResult duplicateInstallation(const std::filesystem::path& programFolder, const ServerCatalog& catalog,
                                         std::string_view sourceName, std::string_view newName,
                                         std::string_view newDesc, std::u16string& error) {
    const std::u16string name = trimWide(toWide(newName));
    std::u16string nameError;
    if (!validateInstallationName(name, nameError))
        return fail(InstallationResult::NameNotAllowed, nameError, error);

    const auto sourceIndex = findServer(catalog, sourceName);
    if (!sourceIndex)
        return fail(InstallationResult::NoSuchEntry, u"No installation named \"" + toWide(sourceName) + u"\".", error);
    const ServerEntry& source = catalog.entries[*sourceIndex];

    const auto sourceFolder = installFolder(programFolder, source);
    if (!isInstalled(sourceFolder, source.launchExecutable))
        return fail(InstallationResult::SourceNotInstalled, u"Install this server before creating a duplicate.", error);

    ServerEntry copy;
    copy.name = toUtf8(name);
    for (const auto& entry : catalog.entries)
        if (equalsIgnoreAsciiCase(entry.name, copy.name))
            return fail(InstallationResult::NameInUse, u"That name is already in use. Choose a different name.", error);
    const std::u16string desc = trimWide(toWide(newDesc));
    copy.desc = desc.empty() ? copy.name : toUtf8(desc);
    copy.server = source.server;
    copy.patchBaseUrl = source.patchBaseUrl;
    copy.mirrors = source.mirrors;  // the same server, served from the same hosts
    copy.launchExecutable = source.launchExecutable;
    copy.manifestKey = manifestKeyOf(source, *sourceIndex < catalog.builtInCount);

    const auto target = defaultInstallFolder(programFolder, copy);
    if (overlaps(sourceFolder, target)) return fail(InstallationResult::CopyFailed, kWouldOverwrite, error);

    std::error_code ec;
    std::filesystem::create_directories(target, ec);
    if (ec) return fail(InstallationResult::CopyFailed, kCopyFailed, error);
    // Files already in the target that the source lacks stay.
    if (!copyFolderContents(sourceFolder, target)) return fail(InstallationResult::CopyFailed, kCopyFailed, error);

    if (!appendCustomEntry(programFolder, copy))
        return fail(InstallationResult::CustomListFailed, u"Could not update customlist.json.", error);
    return InstallationResult::Done;
}

}  // namespace mendly

#include "preview_report.h"

#include <algorithm>
#include <cstdio>

namespace mendly::publish {
namespace {

const char* changeName(FileChange change) {
    switch (change) {
        case FileChange::Added: return "added";
        case FileChange::Changed: return "changed";
        case FileChange::Removed: return "removed";
    }
    return "?";
}

const char* kindName(ServedFile::Kind kind) {
    switch (kind) {
        case ServedFile::Kind::Loose: return "loose";
        case ServedFile::Kind::Member: return "member";
        case ServedFile::Kind::Payload: return "payload";
    }
    return "?";
}

std::string files(std::uint64_t count) { return std::to_string(count) + (count == 1 ? " file" : " files"); }

std::string bytesAndUnits(std::uint64_t bytes) {
    return std::to_string(bytes) + (bytes == 1 ? " byte (" : " bytes (") + humanSize(bytes) + ")";
}

std::string sizeText(const PreviewLine& line) { return line.size ? std::to_string(*line.size) : "?"; }

std::string note(const PreviewLine& line) {
    if (line.change != FileChange::Changed) return {};
    std::string text;
    if (line.kindBefore != line.kind) text = std::string("was ") + kindName(line.kindBefore);
    if (!line.relativeBefore.empty()) text += (text.empty() ? "was " : " ") + line.relativeBefore;
    if (line.sameContents) text += ", same contents";
    return text.empty() ? text : "  (" + text + ")";
}

std::string padded(std::string text, std::size_t width, bool right) {
    if (text.size() >= width) return text;
    const std::string fill(width - text.size(), ' ');
    return right ? fill + text : text + fill;
}

}  // namespace

std::string humanSize(std::uint64_t bytes) {
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    // Switch units before the value would print as "1024.0".
    while (value >= 1023.95 && unit + 1 < std::size(units)) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string formatReleasePreview(const ReleasePreview& preview, std::string_view server,
                                 std::string_view manifestPath, std::string_view behind) {
    std::string out = "Preview of " + std::string(server);
    if (preview.hostServes) {
        out += " against " + std::string(manifestPath);
        if (!preview.generatedBefore.empty()) out += " (generated " + preview.generatedBefore + ")";
        out += ":\n";
    } else {
        out += ": " + std::string(manifestPath) + " does not exist, so nothing is served yet and every file counts "
               "as added.\n";
    }

    std::size_t sizeWidth = 0;
    for (const auto& line : preview.lines) sizeWidth = std::max(sizeWidth, sizeText(line).size());
    for (const auto& line : preview.lines)
        out += padded(changeName(line.change), 8, false) + padded(kindName(line.kind), 8, false) +
               padded(sizeText(line), sizeWidth, true) + "  " + line.relative + note(line) + "\n";

    out += std::to_string(preview.added) + " added, " + std::to_string(preview.changed) + " changed, " +
           std::to_string(preview.removed) + " removed, " + std::to_string(preview.unchanged) + " unchanged (" +
           files(preview.installFiles) + " served after the release, " + std::to_string(preview.filesBefore) +
           " now).\n";
    if (preview.hostServes)
        out += "Update for a player up to date with the served release: " + bytesAndUnits(preview.updateBytes) +
               " in " + files(preview.updateFiles) + ".\n";
    if (preview.hostServes && preview.userIniFiles > 0)
        out += "Left out of that: " + std::to_string(preview.userIniFiles) + " added or changed user INI " +
               (preview.userIniFiles == 1 ? "file, " : "files, ") + bytesAndUnits(preview.userIniBytes) +
               ", which an update leaves alone (an install or an INI reset fetches them).\n";
    out += "Fresh install: " + bytesAndUnits(preview.installBytes) + " in " + files(preview.installFiles) + ".\n";
    out += behind;
    out += "Nothing was written.\n";
    return out;
}

}  // namespace mendly::publish

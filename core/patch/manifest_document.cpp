#include "patch/manifest_document.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "log/text.h"
#include "patch/json_reader.h"

namespace mendly {
namespace {

using Json = nlohmann::json;

// An optional text or count: a value of another kind reads as absent, as
// the library reader ignores it.
bool readOptionalText(JsonReader& reader, std::string& out) {
    out.clear();
    return reader.peek() == JsonKind::String ? reader.readString(out) : reader.skipValue();
}

bool readOptionalCount(JsonReader& reader, std::optional<std::uint64_t>& out) {
    out.reset();
    if (reader.peek() != JsonKind::Number) return reader.skipValue();
    std::uint64_t value = 0;
    if (!reader.readUnsigned(value)) return false;
    out = value;
    return true;
}

bool isDeltaComplete(const ManifestDelta& delta, bool haveSize) {
    return haveSize && isHexText(delta.from, 64) && isHexText(delta.sha256, 64) && !delta.path.empty();
}

// One item of "deltas": kept when it has every field in its form.
bool readPlainDelta(JsonReader& reader, std::vector<ManifestDelta>& deltas) {
    if (reader.peek() != JsonKind::Object) return reader.skipValue();
    if (!reader.beginObject()) return false;
    ManifestDelta delta;
    std::optional<std::uint64_t> size;
    std::string key;
    while (reader.nextMember(key)) {
        std::string* text = key == "from" ? &delta.from : key == "path" ? &delta.path
                          : key == "sha256" ? &delta.sha256 : nullptr;
        bool ok = true;
        if (text) {
            // A field of another kind spoils the item, however it is given later.
            const bool isText = reader.peek() == JsonKind::String;
            ok = isText ? reader.readString(*text) : reader.skipValue();
            if (!isText) text->clear();
        } else if (key == "size") {
            ok = readOptionalCount(reader, size);
        } else {
            ok = reader.skipValue();
        }
        if (!ok) return false;
    }
    if (reader.failed()) return false;
    if (isDeltaComplete(delta, size.has_value())) {
        delta.size = *size;
        deltas.push_back(std::move(delta));
    }
    return true;
}

bool readPlainDeltas(JsonReader& reader, std::vector<ManifestDelta>& deltas) {
    deltas.clear();
    if (reader.peek() != JsonKind::Array) return reader.skipValue();
    if (!reader.beginArray()) return false;
    while (reader.nextElement())
        if (!readPlainDelta(reader, deltas)) return false;
    return !reader.failed();
}

// One element of "files"; the same member given twice counts as the last.
bool readPlainEntry(JsonReader& reader, ManifestEntry& entry) {
    if (!reader.beginObject()) return false;
    bool haveRelative = false, haveMd5 = false, haveSha256 = false;
    std::string key;
    while (reader.nextMember(key)) {
        bool ok = true;
        if (key == "relative") {
            ok = haveRelative = reader.readString(entry.relative);
        } else if (key == "md5") {
            ok = haveMd5 = reader.readString(entry.md5);
        } else if (key == "size") {
            ok = readOptionalCount(reader, entry.size);
        } else if (key == "sha256") {
            ok = haveSha256 = reader.readString(entry.sha256);
        } else if (key == "served") {
            ok = reader.readString(entry.served);
        } else if (key == "deltas") {
            ok = readPlainDeltas(reader, entry.deltas);
        } else {
            ok = reader.skipValue();
        }
        if (!ok) return false;
    }
    return !reader.failed() && haveRelative && haveMd5 && (!haveSha256 || isHexText(entry.sha256, 64));
}

bool readPlainFiles(JsonReader& reader, std::vector<ManifestEntry>& files) {
    files.clear();
    if (!reader.beginArray()) return false;
    while (reader.nextElement()) {
        ManifestEntry entry;
        if (!readPlainEntry(reader, entry)) return false;
        files.push_back(std::move(entry));
    }
    return !reader.failed();
}

}  // namespace

bool readPlainManifest(std::string_view bytes, PatchManifest& out) {
    JsonReader reader(bytes);
    if (!reader.beginObject()) return false;
    out.files.reserve(bytes.size() / 256);
    bool haveFiles = false;
    std::string key;
    while (reader.nextMember(key)) {
        bool ok = true;
        if (key == "files") {
            ok = haveFiles = readPlainFiles(reader, out.files);
        } else if (key == "generated") {
            ok = readOptionalText(reader, out.generated);
        } else if (key == "release") {
            ok = readOptionalCount(reader, out.release);
        } else if (key == "expires") {
            ok = readOptionalText(reader, out.expires);
        } else if (key == "server") {
            ok = readOptionalText(reader, out.server);
        } else {
            ok = reader.skipValue();
        }
        if (!ok) return false;
    }
    return haveFiles && reader.atEnd();
}

// The library's reading of "deltas", to the same rules as readPlainDelta.
static std::vector<ManifestDelta> deltasFrom(const Json& list) {
    std::vector<ManifestDelta> deltas;
    if (!list.is_array()) return deltas;
    for (const Json& item : list) {
        if (!item.is_object()) continue;
        ManifestDelta delta;
        const auto text = [&item](const char* key, std::string& out) {
            const auto found = item.find(key);
            if (found != item.end() && found->is_string()) out = found->get<std::string>();
        };
        text("from", delta.from);
        text("path", delta.path);
        text("sha256", delta.sha256);
        const auto size = item.find("size");
        const bool haveSize = size != item.end() && size->is_number_unsigned();
        if (!isDeltaComplete(delta, haveSize)) continue;
        delta.size = size->get<std::uint64_t>();
        deltas.push_back(std::move(delta));
    }
    return deltas;
}

void readManifestDocument(std::string_view bytes, PatchManifest& out) {
    const Json root = Json::parse(bytes.data(), bytes.data() + bytes.size(), nullptr,
                                  /*allow_exceptions=*/true, /*ignore_comments=*/false);
    const Json& files = root.at("files");
    if (!files.is_array())
        throw Json::type_error::create(302, "type must be array, but is " + std::string(files.type_name()), &files);

    out.files.reserve(files.size());
    for (const Json& element : files) {
        ManifestEntry entry;
        entry.relative = element.at("relative").get<std::string>();
        entry.md5 = element.at("md5").get<std::string>();
        // Optional; a value that is not a byte count is ignored like any
        // unknown key, so older and foreign manifests keep working.
        if (const auto size = element.find("size"); size != element.end() && size->is_number_unsigned())
            entry.size = size->get<std::uint64_t>();
        // Optional too, but once given it must be one: a digest that cannot
        // be checked would quietly weaken the check to the MD5 alone.
        if (const auto sha256 = element.find("sha256"); sha256 != element.end()) {
            entry.sha256 = sha256->get<std::string>();
            if (!isHexText(entry.sha256, 64))
                throw Json::other_error::create(501, "sha256 of \"" + printablePath(entry.relative) +
                                                         "\" is not 64 hexadecimal digits", &element);
        }
        // Optional; a value that is there must be a path (checked with the
        // others once the document is read).
        if (const auto served = element.find("served"); served != element.end())
            entry.served = served->get<std::string>();
        if (const auto deltas = element.find("deltas"); deltas != element.end()) entry.deltas = deltasFrom(*deltas);
        out.files.push_back(std::move(entry));
    }
    if (const auto generated = root.find("generated"); generated != root.end() && generated->is_string())
        out.generated = generated->get<std::string>();
    if (const auto release = root.find("release"); release != root.end() && release->is_number_unsigned())
        out.release = release->get<std::uint64_t>();
    if (const auto expires = root.find("expires"); expires != root.end() && expires->is_string())
        out.expires = expires->get<std::string>();
    if (const auto server = root.find("server"); server != root.end() && server->is_string())
        out.server = server->get<std::string>();
}

std::string printablePath(std::string_view path) {
    std::string out;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace mendly

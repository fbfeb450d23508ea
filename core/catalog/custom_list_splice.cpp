#include "catalog/custom_list_splice.h"

#include <exception>
#include <vector>

#include <nlohmann/json.hpp>

#include "catalog/server_list.h"

namespace mendly {
namespace {

constexpr std::string_view kWhiteSpace = " \t\r\n";

// Positions in a text already known to be one valid JSON document.
class JsonText {
public:
    explicit JsonText(std::string_view text) : text_(text) {}

    std::size_t skipSpace(std::size_t i) const {
        while (i < text_.size() && kWhiteSpace.find(text_[i]) != std::string_view::npos) ++i;
        return i;
    }
    // The position just after the value that starts at `i`.
    std::size_t valueEnd(std::size_t i) const {
        if (text_[i] == '"') return stringEnd(i);
        if (text_[i] == '{' || text_[i] == '[') {
            int depth = 0;
            for (; i < text_.size(); ++i) {
                const char c = text_[i];
                if (c == '"') i = stringEnd(i) - 1;
                else if (c == '{' || c == '[') ++depth;
                else if ((c == '}' || c == ']') && --depth == 0) return i + 1;
            }
            return i;
        }
        while (i < text_.size() && std::string_view(",]} \t\r\n").find(text_[i]) == std::string_view::npos) ++i;
        return i;
    }

private:
    std::size_t stringEnd(std::size_t i) const {
        for (++i; i < text_.size() && text_[i] != '"'; ++i)
            if (text_[i] == '\\') ++i;
        return i + 1;
    }
    std::string_view text_;
};

// Where the "servers" array lies: its brackets, and its elements' extents.
struct ServersArray {
    std::size_t open = 0, close = 0;          // positions of '[' and ']'
    std::size_t memberLineStart = 0;          // start of the line holding the member's name
    std::size_t memberStart = 0;              // the member name's opening quote
    std::vector<std::pair<std::size_t, std::size_t>> elements;
};

bool isServersKey(std::string_view quoted) {
    try {
        const auto key = nlohmann::json::parse(quoted);
        return key.is_string() && key.get<std::string>() == "servers";
    } catch (const std::exception&) {
        return false;
    }
}

// The last "servers" member of the top object wins, as it does when parsed.
std::optional<ServersArray> findServersArray(std::string_view text) {
    const JsonText json(text);
    std::size_t i = json.skipSpace(text.starts_with("\xEF\xBB\xBF") ? 3 : 0);
    if (i >= text.size() || text[i] != '{') return std::nullopt;
    std::optional<ServersArray> found;
    for (i = json.skipSpace(i + 1); i < text.size() && text[i] == '"';) {
        const std::size_t keyEnd = json.valueEnd(i);
        const std::size_t value = json.skipSpace(json.skipSpace(keyEnd) + 1);  // past ':'
        const std::size_t valueEnd = json.valueEnd(value);
        if (isServersKey(text.substr(i, keyEnd - i)) && text[value] == '[') {
            ServersArray array;
            array.open = value;
            array.close = valueEnd - 1;
            array.memberStart = i;
            const std::size_t lineBreak = text.rfind('\n', i);
            array.memberLineStart = lineBreak == std::string_view::npos ? 0 : lineBreak + 1;
            for (std::size_t e = json.skipSpace(value + 1); e < array.close;) {
                const std::size_t end = json.valueEnd(e);
                array.elements.emplace_back(e, end);
                e = json.skipSpace(json.skipSpace(end) + 1);  // past ','
            }
            found = std::move(array);
        }
        i = json.skipSpace(json.skipSpace(valueEnd) + 1);  // past ',' (or the closing brace)
    }
    return found;
}

// The entry's object laid out with `indent` per level and `lineBreak`, its
// lines after the first starting with `margin`; on one line when `indent` is
// empty. Nothing for text that is not valid UTF-8.
std::optional<std::string> entryText(const ServerEntry& entry, std::string_view indent, std::string_view margin,
                                     std::string_view lineBreak) {
    std::string dumped;
    try {
        const int width = indent.empty() ? -1 : static_cast<int>(indent.size());
        dumped = serverEntryToJson(entry).dump(width, indent.empty() ? ' ' : indent[0], false,
                                               nlohmann::json::error_handler_t::strict);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    std::string out;
    for (const char c : dumped) {
        if (c == '\n') {
            out += lineBreak;
            out += margin;
        } else {
            out += c;
        }
    }
    return out;
}

// One indentation step as the file writes it: the member's own indentation
// when it is made of one repeated blank, else two spaces.
std::string indentStep(std::string_view memberIndent) {
    if (!memberIndent.empty() && memberIndent.find_first_not_of(memberIndent[0]) == std::string_view::npos &&
        (memberIndent[0] == ' ' || memberIndent[0] == '\t'))
        return std::string(memberIndent);
    return "  ";
}

std::optional<std::string> insertion(std::string_view text, const ServersArray& array, const ServerEntry& entry) {
    const std::string lineBreak = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
    const std::string_view lineHead = text.substr(array.memberLineStart, array.memberStart - array.memberLineStart);
    const bool multiLine = text.find('\n') != std::string_view::npos;
    const std::string memberIndent =
        lineHead.find_first_not_of(" \t") == std::string_view::npos ? std::string(lineHead) : std::string();
    const std::string step = indentStep(memberIndent);

    if (array.elements.empty()) {
        if (!multiLine) return entryText(entry, {}, {}, {});
        const std::string margin = memberIndent + step;
        const auto object = entryText(entry, step, margin, lineBreak);
        if (!object) return std::nullopt;
        return lineBreak + margin + *object + lineBreak + memberIndent;
    }
    // Laid out like the first element: on a line of its own or not.
    const std::string_view before = text.substr(array.open + 1, array.elements.front().first - array.open - 1);
    const std::size_t lastBreak = before.rfind('\n');
    if (lastBreak == std::string_view::npos) {
        const auto object = entryText(entry, {}, {}, {});
        if (!object) return std::nullopt;
        return "," + std::string(before) + *object;
    }
    const std::string margin(before.substr(lastBreak + 1));
    const auto object = entryText(entry, step, margin, lineBreak);
    if (!object) return std::nullopt;
    return "," + lineBreak + margin + *object;
}

}  // namespace

std::optional<std::string> spliceCustomEntry(std::string_view listText, const ServerEntry& entry) {
    const auto existing = parseServerList(listText);
    if (!existing) return std::nullopt;
    const auto array = findServersArray(listText);
    if (!array) return std::nullopt;
    const auto inserted = insertion(listText, *array, entry);
    if (!inserted) return std::nullopt;

    std::string out;
    if (array->elements.empty()) {
        // Only blanks lie between the brackets: the new element replaces them.
        out.append(listText.substr(0, array->open + 1)).append(*inserted).append(listText.substr(array->close));
    } else {
        const std::size_t at = array->elements.back().second;
        out.append(listText.substr(0, at)).append(*inserted).append(listText.substr(at));
    }
    auto expected = *existing;
    expected.push_back(entry);
    if (parseServerList(out) != expected) return std::nullopt;
    return out;
}

}  // namespace mendly

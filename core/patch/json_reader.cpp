#include "patch/json_reader.h"

#include <array>

namespace mendly {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
unsigned byteAt(std::string_view text, std::size_t at) { return static_cast<unsigned char>(text[at]); }

// The bytes a sequence that `lead` starts has, and the range its second
// byte must lie in; 0 for a byte no well-formed sequence starts with.
struct Lead {
    std::size_t length;
    unsigned low, high;
};
Lead leadOf(unsigned lead) {
    if (lead < 0x80) return {1, 0, 0};
    if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
    if (lead == 0xE0) return {3, 0xA0, 0xBF};
    if (lead == 0xED) return {3, 0x80, 0x9F};  // not the surrogates
    if (lead >= 0xE1 && lead <= 0xEF) return {3, 0x80, 0xBF};
    if (lead == 0xF0) return {4, 0x90, 0xBF};
    if (lead >= 0xF1 && lead <= 0xF3) return {4, 0x80, 0xBF};
    if (lead == 0xF4) return {4, 0x80, 0x8F};  // not past U+10FFFF
    return {0, 0, 0};
}

// How many bytes at `at` belong to one well-formed sequence; when it is not
// one, 0 and `valid` the bytes before the first that does not fit.
std::size_t sequenceAt(std::string_view text, std::size_t at, std::size_t& valid) {
    const Lead lead = leadOf(byteAt(text, at));
    valid = 0;
    if (lead.length == 0) return 0;
    for (std::size_t k = 1; k < lead.length; ++k) {
        const unsigned low = k == 1 ? lead.low : 0x80u, high = k == 1 ? lead.high : 0xBFu;
        if (at + k >= text.size() || byteAt(text, at + k) < low || byteAt(text, at + k) > high) {
            valid = k;
            return 0;
        }
    }
    return lead.length;
}

void appendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

void JsonReader::skipSpace() {
    while (at_ < text_.size() && isSpace(text_[at_])) ++at_;
}

JsonKind JsonReader::peek() {
    if (failed_) return JsonKind::Invalid;
    skipSpace();
    if (at_ == text_.size()) return JsonKind::End;
    const char c = text_[at_];
    if (c == '"') return JsonKind::String;
    if (c == '-' || isDigit(c)) return JsonKind::Number;
    if (c == '{') return JsonKind::Object;
    if (c == '[') return JsonKind::Array;
    if (c == 't' || c == 'f' || c == 'n') return JsonKind::Literal;
    return JsonKind::Invalid;
}

bool JsonReader::begin(char open, char close) {
    if (failed_ || closers_.size() >= kMaxDepth) return fail();
    skipSpace();
    if (at_ == text_.size() || text_[at_] != open) return fail();
    ++at_;
    started_.push_back(false);
    closers_.push_back(close);
    return true;
}

// Before a member or element: the end of the open value (false, consumed),
// the first one, or a ',' and then one (true). "[1,]" and "{,}" fail.
bool JsonReader::separator(char close) {
    if (failed_ || closers_.empty() || closers_.back() != close) return fail();
    skipSpace();
    if (at_ == text_.size()) return fail();
    if (text_[at_] == close) {
        ++at_;
        started_.pop_back();
        closers_.pop_back();
        return false;
    }
    if (started_.back()) {
        if (text_[at_] != ',') return fail();
        ++at_;
        skipSpace();
        if (at_ == text_.size() || text_[at_] == close) return fail();
    }
    started_.back() = true;
    return true;
}

bool JsonReader::nextMember(std::string& key) {
    if (!separator('}')) return false;
    if (!readString(key)) return false;
    skipSpace();
    if (at_ == text_.size() || text_[at_] != ':') return fail();
    ++at_;
    return true;
}

bool JsonReader::nextElement() { return separator(']'); }

bool JsonReader::escape(std::string& out) {
    if (at_ + 1 >= text_.size()) return fail();
    const char c = text_[at_ + 1];
    at_ += 2;
    static constexpr std::string_view kFrom = "\"\\/bfnrt", kTo = "\"\\/\b\f\n\r\t";
    if (const auto found = kFrom.find(c); found != std::string_view::npos) {
        out.push_back(kTo[found]);
        return true;
    }
    if (c != 'u' || at_ + 4 > text_.size()) return fail();
    unsigned code = 0;
    for (std::size_t k = 0; k < 4; ++k) {
        const int digit = hexValue(text_[at_ + k]);
        if (digit < 0) return fail();
        code = code * 16 + static_cast<unsigned>(digit);
    }
    at_ += 4;
    if (code >= 0xD800 && code <= 0xDFFF) return fail();  // pairs are left to the library
    appendUtf8(out, code);
    return true;
}

bool JsonReader::readString(std::string& out) {
    out.clear();
    if (peek() != JsonKind::String) return fail();
    ++at_;
    while (at_ < text_.size()) {
        const unsigned byte = byteAt(text_, at_);
        if (byte == '"') {
            ++at_;
            return true;
        }
        if (byte < 0x20) return fail();
        if (byte == '\\') {
            if (!escape(out)) return false;
            continue;
        }
        std::size_t length = 0, valid = 0;
        if (byte < 0x80) {  // a run of plain characters at once
            while (at_ + length < text_.size()) {
                const unsigned next = byteAt(text_, at_ + length);
                if (next < 0x20 || next >= 0x80 || next == '"' || next == '\\') break;
                ++length;
            }
        } else {
            length = sequenceAt(text_, at_, valid);
            if (length == 0) return fail();
        }
        out.append(text_.substr(at_, length));
        at_ += length;
    }
    return fail();
}

// Digits without a leading zero (a lone "0" aside), not followed by a
// fraction or an exponent, within 64 bits.
bool JsonReader::digits(std::uint64_t& out) {
    const std::size_t start = at_;
    out = 0;
    while (at_ < text_.size() && isDigit(text_[at_])) {
        const auto digit = static_cast<std::uint64_t>(text_[at_] - '0');
        if (out > (UINT64_MAX - digit) / 10) return fail();
        out = out * 10 + digit;
        ++at_;
    }
    if (at_ == start || (text_[start] == '0' && at_ - start > 1)) return fail();
    if (at_ < text_.size() && (text_[at_] == '.' || text_[at_] == 'e' || text_[at_] == 'E')) return fail();
    return true;
}

bool JsonReader::readUnsigned(std::uint64_t& out) {
    if (peek() != JsonKind::Number || text_[at_] == '-') return fail();
    return digits(out);
}

bool JsonReader::readSigned(std::int64_t& out) {
    if (peek() != JsonKind::Number) return fail();
    const bool negative = text_[at_] == '-';
    if (negative) ++at_;
    std::uint64_t magnitude = 0;
    if (!digits(magnitude)) return false;
    // "-0" is left to the library, which reads it as a signed zero.
    if (negative && (magnitude == 0 || magnitude > static_cast<std::uint64_t>(INT64_MAX) + 1)) return fail();
    if (!negative && magnitude > static_cast<std::uint64_t>(INT64_MAX)) return fail();
    out = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    return true;
}

// The whole number grammar, fraction and exponent included.
bool JsonReader::skipNumber() {
    if (text_[at_] == '-') ++at_;
    const auto run = [&] {
        const std::size_t start = at_;
        while (at_ < text_.size() && isDigit(text_[at_])) ++at_;
        return at_ - start;
    };
    const std::size_t start = at_;
    const std::size_t whole = run();
    if (whole == 0 || (whole > 1 && text_[start] == '0')) return fail();
    if (at_ < text_.size() && text_[at_] == '.') {
        ++at_;
        if (run() == 0) return fail();
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
        ++at_;
        if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
        if (run() == 0) return fail();
    }
    return true;
}

bool JsonReader::skipLiteral() {
    for (const std::string_view word : {std::string_view("true"), std::string_view("false"), std::string_view("null")})
        if (text_.substr(at_, word.size()) == word) {
            at_ += word.size();
            return true;
        }
    return fail();
}

bool JsonReader::skipNested(std::size_t depth) {
    if (depth > kMaxDepth) return fail();
    std::string scratch;
    switch (peek()) {
    case JsonKind::String: return readString(scratch);
    case JsonKind::Number: return skipNumber();
    case JsonKind::Literal: return skipLiteral();
    case JsonKind::Object:
        if (!beginObject()) return false;
        while (nextMember(scratch))
            if (!skipNested(depth + 1)) return false;
        return !failed_;
    case JsonKind::Array:
        if (!beginArray()) return false;
        while (nextElement())
            if (!skipNested(depth + 1)) return false;
        return !failed_;
    default: return fail();
    }
}

bool JsonReader::skipValue() { return skipNested(closers_.size()); }

bool JsonReader::atEnd() { return !failed_ && closers_.empty() && peek() == JsonKind::End; }

void appendJsonString(std::string& out, std::string_view text) {
    static constexpr std::array<char, 8> kShort = {'b', 't', 'n', 0, 'f', 'r', 0, 0};  // 0x08..0x0D
    std::size_t at = 0;
    while (at < text.size()) {
        const unsigned byte = byteAt(text, at);
        if (byte >= 0x80) {
            std::size_t valid = 0;
            const std::size_t length = sequenceAt(text, at, valid);
            if (length > 0) {
                out.append(text.substr(at, length));
                at += length;
            } else {
                out.append("\xEF\xBF\xBD");
                at += valid == 0 ? 1 : valid;  // the byte that did not fit starts afresh
            }
            continue;
        }
        ++at;
        if (byte == '"' || byte == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(byte));
        } else if (byte >= 0x08 && byte <= 0x0D && kShort[byte - 0x08] != 0) {
            out.push_back('\\');
            out.push_back(kShort[byte - 0x08]);
        } else if (byte < 0x20) {
            static constexpr std::string_view kHex = "0123456789abcdef";
            out.append("\\u00");
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 0xF]);
        } else {
            out.push_back(static_cast<char>(byte));
        }
    }
}

}  // namespace mendly

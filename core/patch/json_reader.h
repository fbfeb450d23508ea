#pragma once
// A forward-only reader of JSON text in its plain form: UTF-8 strings whose
// escapes stay in the Basic Multilingual Plane, integers without fraction or
// exponent where a caller reads a number, no comments. It builds nothing:
// callers pull members and elements straight into their own structures,
// which for the manifest and the install record is several times faster than
// building the JSON library's document first.
//
// It never accepts text the JSON library would refuse; it may refuse text
// the library accepts (a fraction where a count is read, a surrogate pair,
// nesting deeper than kMaxDepth). Callers then read the text again through
// the library, which gives the values or the error users see. Every read
// that does not fit marks the reader failed; later reads then fail too.
//
// Not shared between threads; the text must outlive the reader.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mendly {

enum class JsonKind { String, Number, Object, Array, Literal, End, Invalid };

class JsonReader {
public:
    static constexpr std::size_t kMaxDepth = 256;

    explicit JsonReader(std::string_view text) : text_(text) {}

    bool failed() const { return failed_; }
    // The kind of the next value (white space skipped); Invalid at a
    // character no value starts with, End when only white space is left.
    JsonKind peek();

    // Consume '{' or '['. False (failed) when the next value is not one.
    bool beginObject() { return begin('{', '}'); }
    bool beginArray() { return begin('[', ']'); }
    // The next member's key, with the ':' after it consumed; false at the
    // object's end (the '}' consumed) and on failure: check failed().
    bool nextMember(std::string& key);
    // True when another element follows; false at the array's end (the ']'
    // consumed) and on failure.
    bool nextElement();

    bool readString(std::string& out);
    // A number written as digits only (and a leading '-' for readSigned),
    // within the type's range; anything else fails.
    bool readUnsigned(std::uint64_t& out);
    bool readSigned(std::int64_t& out);
    // Any one value, checked as strictly as the rest.
    bool skipValue();
    // True when nothing but white space follows the values read.
    bool atEnd();

private:
    bool begin(char open, char close);
    bool fail() { failed_ = true; return false; }
    void skipSpace();
    bool separator(char close);
    bool digits(std::uint64_t& out);
    bool skipNumber();
    bool skipLiteral();
    bool skipNested(std::size_t depth);
    bool escape(std::string& out);

    std::string_view text_;
    std::size_t at_ = 0;
    bool failed_ = false;
    // Per open object or array: whether a member or element has been read.
    std::vector<bool> started_;
    std::vector<char> closers_;
};

// `text` as JSON string content (without the quotes), escaped as the JSON
// library writes it: '"', '\' and control characters escaped (\b \f \n \r
// \t, others \u00XX), everything else as it is, except that bytes which are
// not UTF-8 become U+FFFD.
void appendJsonString(std::string& out, std::string_view text);

}  // namespace mendly

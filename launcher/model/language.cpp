#include "model/language.h"

#include <array>
#include <fstream>

#include "catalog/file_bytes.h"
#include "log/log_file.h"
#include "log/text.h"
#include "platform/process.h"

namespace mendly {
namespace {

bool isAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view trimEnd(std::string_view s) {
    while (!s.empty() && isAsciiSpace(s.back())) s.remove_suffix(1);
    return s;
}

std::string_view trimBoth(std::string_view s) {
    s = trimEnd(s);
    while (!s.empty() && isAsciiSpace(s.front())) s.remove_prefix(1);
    return s;
}

Notice writeFailure(const std::filesystem::path& file) {
    return {u"Could not write language.ini:\n" + file.u16string(), u"Language", NoticeIcon::Error};
}

}  // namespace

bool isSupportedLanguage(std::string_view code) {
    static constexpr std::array<std::string_view, 4> kCodes{"en", "de", "es", "fr"};
    for (const auto known : kCodes)
        if (code == known) return true;
    return false;
}

std::filesystem::path languageFilePath(const std::filesystem::path& installFolder) {
    return installFolder / "ini" / "language.ini";
}

std::string languageFileText(std::string_view code) {
    std::string text = "[INI]\r\nLANGUAGE=";
    text += code;
    text += "\r\n";
    return text;
}

std::string languageFromIniText(std::string_view text) {
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        const auto key = trimEnd(line.substr(0, equals));
        const auto value = trimBoth(line.substr(equals + 1));
        if (equalsIgnoreAsciiCase(key, "LANGUAGE") && isSupportedLanguage(value)) return std::string(value);
    }
    return kDefaultLanguage;
}

std::string readLanguage(const std::filesystem::path& installFolder) {
    std::string bytes;
    if (readFileBytes(languageFilePath(installFolder), bytes) != FileRead::Read) return kDefaultLanguage;
    return languageFromIniText(bytes);
}

std::optional<Notice> writeLanguage(const std::filesystem::path& programFolder,
                                    const std::filesystem::path& installFolder, std::string_view code) {
    std::error_code ignored;
    std::filesystem::create_directory(programFolder / "clients", ignored);
    std::filesystem::create_directory(installFolder, ignored);

    const auto iniFolder = installFolder / "ini";
    std::error_code ec;
    std::filesystem::create_directory(iniFolder, ec);
    if (ec && !std::filesystem::is_directory(iniFolder, ignored)) {
        LogFile::write(u"ERROR: Could not create INI folder: " + iniFolder.u16string());
        return Notice{u"Could not create INI folder:\n" + iniFolder.u16string(), u"Language", NoticeIcon::Error};
    }

    const auto file = iniFolder / "language.ini";
    switch (platform::replaceWholeFile(file, languageFileText(code))) {
        case platform::FileWrite::Written:
            break;
        case platform::FileWrite::ShortWrite:
            LogFile::write(u"ERROR: Short write " + file.u16string());
            return writeFailure(file);
        case platform::FileWrite::CannotWrite:
            LogFile::write(u"ERROR: Could not write " + file.u16string());
            return writeFailure(file);
    }
    return std::nullopt;
}

}  // namespace mendly

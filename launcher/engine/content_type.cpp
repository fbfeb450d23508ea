#include "content_type.h"

#include "log/text.h"

namespace mendly {

std::string contentTypeForName(std::u16string_view name) {
    struct Kind {
        std::u16string_view extension;
        const char* type;
    };
    static constexpr Kind kinds[] = {
        {u".htm", "text/html"},        {u".html", "text/html"},       {u".css", "text/css"},
        {u".js", "text/javascript"},   {u".mjs", "text/javascript"},  {u".json", "application/json"},
        {u".png", "image/png"},        {u".jpg", "image/jpeg"},       {u".jpeg", "image/jpeg"},
        {u".gif", "image/gif"},        {u".svg", "image/svg+xml"},    {u".ico", "image/x-icon"},
        {u".webp", "image/webp"},      {u".woff", "font/woff"},       {u".woff2", "font/woff2"},
        {u".ttf", "font/ttf"},         {u".otf", "font/otf"},         {u".txt", "text/plain"},
    };
    const std::size_t slash = name.find_last_of(u'/');
    const std::u16string base = asciiLowered(slash == std::u16string_view::npos ? name : name.substr(slash + 1));
    for (const Kind& kind : kinds) {
        if (base.size() > kind.extension.size() && base.ends_with(kind.extension)) return kind.type;
    }
    return "application/octet-stream";
}

}  // namespace mendly

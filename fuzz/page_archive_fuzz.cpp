// Feeds arbitrary bytes to the page archive reader: opening must never read
// outside the input, and every lookup and read of an opened archive must end.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "page_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    mendly::PageArchive archive;
    std::u16string error;
    if (!archive.open(bytes, error)) return 0;
    std::string contents;
    for (std::u16string_view name : {u"main.htm", u"main.css", u"main.js", u"a.txt", u"b.css", u"x"}) {
        (void)archive.read(name, contents);
    }
    for (std::size_t i = 0; i < archive.items().size() && i < 64; ++i) {
        (void)archive.readItem(static_cast<int>(i), contents);
    }
    return 0;
}

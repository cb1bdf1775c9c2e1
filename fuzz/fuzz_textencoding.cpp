// Opening a file: the first byte picks the encoding a reload prefers, the rest are the file.
#include "check.h"

#include "core/textencoding.h"

#include <algorithm>
#include <cstdint>

using quorvel::core::TextEncoding;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const TextEncoding preferred(TextEncoding::Kind(data[0] % 4));
    const QByteArray bytes(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    const auto decoded = TextEncoding::decode(bytes, preferred);
    if (!decoded) {
        FUZZ_CHECK(bytes.first(std::min(bytes.size(), TextEncoding::kBinaryProbe)).contains('\0'),
                   "only a NUL near the start makes a file no text");
        return 0;
    }
    // A save of the untouched text writes back every byte as read.
    FUZZ_CHECK(decoded->encoding.encode(decoded->text) == bytes, "decode then encode keeps bytes");
    if (preferred.kind() == TextEncoding::Kind::Latin1 && !decoded->text.isEmpty())
        FUZZ_CHECK(decoded->encoding.kind() != TextEncoding::Kind::Utf8,
                   "a reload in Latin-1 stays in Latin-1");
    // Reading the file again, in the encoding it was read in, gives the same text.
    const auto again = TextEncoding::decode(bytes, decoded->encoding);
    FUZZ_CHECK(again && again->text == decoded->text && again->encoding == decoded->encoding,
               "a second read agrees with the first");
    return 0;
}

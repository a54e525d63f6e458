// Fuzz target: the batch list parser on any bytes. Every entry is either a pair or an error
// naming its line.
#include "batch.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray text =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const BatchList list = parse_batch_list(text, QStringLiteral("list"));
    for (const BatchEntry &entry : list.entries) {
        const bool pair = !entry.image.isEmpty() && !entry.strokes.isEmpty();
        if (entry.line < 1 || pair == !entry.error.isEmpty())
            std::abort();
    }
    return 0;
}

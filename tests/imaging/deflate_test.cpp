// The zlib streams of our picture files, read back by zlib itself.
#include <imaging/deflate.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

// `stream` inflated by zlib, which must take all of it and find exactly `expected_size` bytes.
QByteArray inflated(const QByteArray &stream, qsizetype expected_size)
{
    QByteArray out(expected_size + 1, '\x7f');
    auto length = static_cast<uLongf>(out.size());
    EXPECT_EQ(uncompress(reinterpret_cast<Bytef *>(out.data()), &length,
                         reinterpret_cast<const Bytef *>(stream.constData()),
                         static_cast<uLong>(stream.size())),
              Z_OK);
    out.truncate(static_cast<qsizetype>(length));
    return out;
}

struct Case
{
    std::string name;
    QByteArray data;
};

std::vector<Case> cases()
{
    std::vector<Case> made = {{"empty", {}}, {"one byte", QByteArray(1, '\x05')}};
    // Runs around the longest copy (258) and its split into a last copy shorter than three.
    for (const int length : {2, 3, 4, 258, 259, 260, 261, 262, 516, 517, 100000})
        made.push_back({"zeros " + std::to_string(length), QByteArray(length, '\0')});
    QByteArray every_byte;
    for (int round = 0; round < 40; ++round)
        for (int b = 0; b < 256; ++b)
            every_byte.append(static_cast<char>(round % 2 == 0 ? b : 255 - b));
    made.push_back({"every byte value", every_byte});
    // Counts that grow like Fibonacci numbers make a Huffman tree deeper than fifteen bits,
    // which the coder must flatten; shuffled, so that most bytes stay literals.
    QByteArray skewed;
    for (int b = 0, count = 1, before = 1; b < 24; ++b, std::swap(count, before), count += before)
        skewed.append(QByteArray(count, static_cast<char>(b * 7)));
    std::uint32_t state = 7;
    for (qsizetype n = skewed.size() - 1; n > 0; --n) {
        state = state * 1664525u + 1013904223u;
        std::swap(skewed[n],
                  skewed[static_cast<qsizetype>(state % static_cast<std::uint32_t>(n + 1))]);
    }
    made.push_back({"skewed counts", skewed});
    // A mask-like stream and noisy rows with short runs, from a fixed generator.
    QByteArray mask(300000, '\0');
    QByteArray noisy(300000, '\0');
    for (qsizetype n = 0; n < noisy.size(); ++n) {
        state = state * 1664525u + 1013904223u;
        noisy[n] = static_cast<char>((state >> 24) % 5 == 0 ? 0 : (state >> 16) % 9);
        if (n % 3001 == 1500 || n % 3001 == 1503)
            mask[n] = static_cast<char>((state >> 24) | 1);
    }
    made.push_back({"mask-like", mask});
    made.push_back({"noisy", noisy});
    return made;
}

} // namespace

TEST(Deflate, BothStreamsInflateToTheirData)
{
    for (const Case &c : cases()) {
        SCOPED_TRACE(c.name);
        const QByteArray runs = deflate_runs(c.data);
        EXPECT_EQ(inflated(runs, c.data.size()), c.data);
        const QByteArray chosen = deflate_zlib(c.data);
        EXPECT_EQ(inflated(chosen, c.data.size()), c.data);
        EXPECT_EQ(deflate_zlib(c.data), chosen);
        // In uneven pieces, runs and copies cross the pieces' ends.
        const auto size = static_cast<std::size_t>(c.data.size());
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(c.data.constData());
        ZlibStream pieces(size);
        for (std::size_t at = 0, piece = 1; at < size; at += piece, piece = piece * 3 + 1)
            pieces.append(bytes + at, std::min(piece, size - at));
        EXPECT_EQ(inflated(pieces.finish(), c.data.size()), c.data);
        // Data of runs gets whichever stream is smaller.
        if (c.data.count('\0') * 50 >= c.data.size() * 49) {
            EXPECT_LE(chosen.size(), runs.size());
        }
    }
    // A stream given fewer bytes than announced is no stream.
    ZlibStream short_one(10);
    short_one.append(reinterpret_cast<const std::uint8_t *>("abc"), 3);
    EXPECT_TRUE(short_one.finish().isEmpty());
    // Long runs cost about two bits per copy of 258 bytes.
    EXPECT_LT(deflate_runs(QByteArray(1 << 20, '\0')).size(), 1200);
}

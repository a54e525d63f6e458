// The zlib streams of our picture files, read back by zlib itself.
#include <imaging/deflate.h>
#include <imaging/image_io.h>

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <zlib.h>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include <algorithm>
#include <cstdint>
#include <optional>
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

#if defined(__x86_64__)
// Which parts of the vector registers are in use on this thread, where the processor says
// (XGETBV with ECX = 1); nothing otherwise.
std::optional<std::uint64_t> vector_state_in_use()
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid_count(0xd, 1, &a, &b, &c, &d) == 0 || (a & 4u) == 0)
        return std::nullopt;
    unsigned low = 0, high = 0;
    asm volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(1));
    return (std::uint64_t {high} << 32) | low;
}
#endif

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
        // Deflated apart in three parts (the first two possibly empty) and joined.
        const std::size_t ends[3] = {size / 3, size / 3 + size / 5, size};
        std::vector<DeflatedPart> parts;
        for (std::size_t n = 0, at = 0; n < 3; at = ends[n++]) {
            ZlibStream part(ends[n] - at,
                            n < 2 ? ZlibStream::Part::leading : ZlibStream::Part::last);
            part.append(bytes + at, ends[n] - at);
            parts.push_back({part.finish(), part.adler(), ends[n] - at});
        }
        EXPECT_EQ(inflated(join_zlib(parts.data(), parts.size()), c.data.size()), c.data);
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

// The compressor's vector code leaves the upper halves of the wide registers in use, which makes
// every older vector instruction after it (glibc's pow among them) many times slower on the
// thread; reading and writing pictures must clear them.
TEST(Deflate, WideVectorRegistersAreClearedAfterwards)
{
#if defined(__x86_64__)
    if (!vector_state_in_use())
        GTEST_SKIP() << "the processor does not say which vector state is in use";
    // The upper halves of registers 0 to 15: 256 bits of AVX, and 256 more of AVX-512.
    constexpr std::uint64_t upper_halves = (1u << 2) | (1u << 6);
    // A virtual machine's host may restore the registers as in use when it switches the thread
    // back in (about one run in a hundred on a loaded 2-core guest), so each step gets three
    // tries; code that leaves them in use fails all three.
    const auto clears = [&](const auto &step) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            step();
            if ((*vector_state_in_use() & upper_halves) == 0)
                return true;
        }
        return false;
    };
    QImage picture(900, 700, QImage::Format_RGB888);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb((x * 7 + y) % 256, (x ^ y) % 256, y % 256));
    QByteArray file;
    EXPECT_TRUE(clears([&] { file = encode_png(picture); }));
    QTemporaryDir dir;
    QFile out(dir.filePath("p.png"));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
    out.close();
    LoadedImage read;
    EXPECT_TRUE(clears([&] { read = load_image(out.fileName()); }));
    EXPECT_EQ(read.image.convertToFormat(QImage::Format_RGB888), picture);
#else
    GTEST_SKIP() << "x86 only";
#endif
}

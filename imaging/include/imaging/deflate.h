// The zlib streams inside the PNG files we write: the quickest deflate that keeps files near the
// size of the usual one.
#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <memory>

// A zlib stream made piece by piece, so that rows can be deflated as they are made instead of
// being gathered first. Data of at least 98 % zeros (masks) gets the smaller of two streams,
// ISA-L's fastest level and deflate_runs'; other data ISA-L's. The same pieces give the same
// stream on a given machine.
//
// A stream may also be one part of a longer one, deflated apart so that the parts of one file can
// be made on several cores: its blocks copy nothing from the parts before it, and join_zlib puts
// the parts together.
class ZlibStream
{
public:
    // Where the data stands in the whole: all of it, or a part before the last, or the last part.
    enum class Part { whole, leading, last };

    // `total_size`: how many bytes will be appended in all.
    explicit ZlibStream(std::size_t total_size, Part part = Part::whole);
    ~ZlibStream();
    ZlibStream(const ZlibStream &) = delete;
    ZlibStream &operator=(const ZlibStream &) = delete;

    void append(const std::uint8_t *bytes, std::size_t count);

    // The whole stream; of a part, its deflate blocks alone: a leading part's end on a byte with
    // an empty stored block, the last part's with the final block. Empty if another number of
    // bytes than total_size came, or if the compressor refused them.
    QByteArray finish();
    // Adler-32 of the bytes appended so far, which join_zlib needs of a part (kept for parts only).
    std::uint32_t adler() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// A part's blocks, the checksum and count of the bytes it holds.
struct DeflatedPart
{
    QByteArray blocks;
    std::uint32_t adler = 1;
    std::size_t size = 0;
};

// The zlib stream of the parts' data, in order: a header, their blocks, the checksum of all.
// Empty if any part's blocks are.
QByteArray join_zlib(const DeflatedPart *parts, std::size_t count);

// ZlibStream's stream of `data` in one piece.
QByteArray deflate_zlib(const QByteArray &data);

// The zlib stream of `data` as literals and copies of the byte just before (runs), in one block
// of Huffman codes made for the data. On masks it is about as small as deflate's usual levels and
// far quicker; on photos it is a third to two thirds larger.
QByteArray deflate_runs(const QByteArray &data);

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
class ZlibStream
{
public:
    // `total_size`: how many bytes will be appended in all.
    explicit ZlibStream(std::size_t total_size);
    ~ZlibStream();
    ZlibStream(const ZlibStream &) = delete;
    ZlibStream &operator=(const ZlibStream &) = delete;

    void append(const std::uint8_t *bytes, std::size_t count);

    // The whole stream. Empty if another number of bytes than total_size came, or if the
    // compressor refused them.
    QByteArray finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// ZlibStream's stream of `data` in one piece.
QByteArray deflate_zlib(const QByteArray &data);

// The zlib stream of `data` as literals and copies of the byte just before (runs), in one block
// of Huffman codes made for the data. On masks it is about as small as deflate's usual levels and
// far quicker; on photos it is a third to two thirds larger.
QByteArray deflate_runs(const QByteArray &data);

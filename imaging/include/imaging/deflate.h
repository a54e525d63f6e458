// The zlib streams inside the PNG files we write: the quickest deflate that keeps files near the
// size of the usual one.
#pragma once

#include <QByteArray>

// The zlib stream of `data`. Data of at least 98 % zeros (masks) gets the smaller of two
// streams, the general one and deflate_runs'. The same bytes give the same stream
// on a given machine; empty only when memory runs out.
QByteArray deflate_zlib(const QByteArray &data);

// The zlib stream of `data` as literals and copies of the byte just before (runs), in one block
// of Huffman codes made for the data. On masks it is about as small as deflate's usual levels and
// far quicker; on photos it is a third to two thirds larger.
QByteArray deflate_runs(const QByteArray &data);

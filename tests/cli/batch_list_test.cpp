// Batch lists: pairs, quoting, comments, and lines that are not pairs.
#include "batch.h"

#include <gtest/gtest.h>

TEST(BatchList, PairsCommentsBlankLinesAndQuotes)
{
    const QByteArray text = "# photos of Monday\n"
                            "a.png a-strokes.png\n"
                            "\n"
                            "   \t\n"
                            "  \"my photo.png\"\t\"my strokes.png\"  \r\n"
                            "c.png   c-strokes.png";
    const BatchList list = parse_batch_list(text, "list.txt");
    ASSERT_TRUE(list.error.isEmpty());
    ASSERT_EQ(list.entries.size(), 3);
    EXPECT_EQ(list.entries[0].line, 2);
    EXPECT_EQ(list.entries[0].image, "a.png");
    EXPECT_EQ(list.entries[0].strokes, "a-strokes.png");
    EXPECT_EQ(list.entries[1].line, 5);
    EXPECT_EQ(list.entries[1].image, "my photo.png");
    EXPECT_EQ(list.entries[1].strokes, "my strokes.png");
    EXPECT_EQ(list.entries[2].line, 6);
    EXPECT_EQ(list.entries[2].strokes, "c-strokes.png");
    for (const BatchEntry &entry : list.entries)
        EXPECT_TRUE(entry.error.isEmpty()) << entry.error.toStdString();
}

TEST(BatchList, LinesThatAreNoPairBecomeFailingEntries)
{
    const BatchList list = parse_batch_list(
        "only-one.png\na.png b.png c.png\n\"open quote.png b.png\nd.png e.png\n", "jobs.txt");
    ASSERT_EQ(list.entries.size(), 4);
    EXPECT_EQ(list.entries[0].error, "jobs.txt: line 1: expected IMAGE STROKES, found 1 field(s)");
    EXPECT_EQ(list.entries[1].error, "jobs.txt: line 2: expected IMAGE STROKES, found 3 field(s)");
    EXPECT_EQ(list.entries[2].error, "jobs.txt: line 3: a double quote is not closed");
    EXPECT_TRUE(list.entries[3].error.isEmpty());
    EXPECT_EQ(list.entries[3].image, "d.png");
}

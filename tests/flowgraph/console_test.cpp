// The console sink: text printed from several threads at once arrives whole, in each thread's
// order.
#include "console_capture.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>
#include <vector>

TEST(Console, LinesFromSeveralThreadsArriveWhole)
{
    const std::string padding(300, 'x');
    const std::string text = console_text_of([&padding] {
        std::vector<std::thread> writers;
        for (int t = 0; t < 4; ++t)
            writers.emplace_back([t, &padding] {
                for (int n = 0; n < 500; ++n)
                    console_print("%d %d %s\n", t, n, padding.c_str());
            });
        for (std::thread &writer : writers)
            writer.join();
    });
    std::istringstream in(text);
    int next[4] = {};
    int t = 0;
    int n = 0;
    std::string rest;
    while (in >> t >> n >> rest) {
        ASSERT_TRUE(t >= 0 && t < 4 && rest == padding);
        ASSERT_EQ(n, next[t]++);
    }
    EXPECT_EQ(next[0] + next[1] + next[2] + next[3], 2000);
}

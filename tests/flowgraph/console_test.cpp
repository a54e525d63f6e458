// The console sink: text printed from several threads at once arrives whole, line by line.
#include "console_capture.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

TEST(Console, LinesFromSeveralThreadsArriveWhole)
{
    constexpr int threads = 4;
    constexpr int lines = 500;
    const std::string text = console_text_of([] {
        std::vector<std::thread> writers;
        for (int t = 0; t < threads; ++t)
            writers.emplace_back([t] {
                for (int n = 0; n < lines; ++n)
                    console_print("thread %d line %d %s\n", t, n, std::string(300, 'x').c_str());
            });
        for (std::thread &writer : writers)
            writer.join();
    });
    std::istringstream in(text);
    std::vector<int> next(threads, 0);
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        int t = -1;
        int n = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d", &t, &n), 2) << line;
        ASSERT_TRUE(t >= 0 && t < threads);
        EXPECT_EQ(n, next[static_cast<std::size_t>(t)]++) << "lines of one thread keep their order";
        EXPECT_EQ(line.size(), line.find('x') + 300) << line;
        ++count;
    }
    EXPECT_EQ(count, threads * lines);
}

// vellacut-maxflow end to end: the built program is run on files written by the test, and its
// output, cut file and exact exit status are checked, including every kind of bad input.
#include "small_disk.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

extern char **environ;

namespace {

namespace fs = std::filesystem;

struct ProgramRun
{
    int status = -1; // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

std::string file_text(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const fs::path &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// A scratch folder per test, removed afterwards.
class MaxflowCli : public testing::Test
{
protected:
    void SetUp() override
    {
        const auto *info = testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::path(testing::TempDir()) / (std::string("maxflow_cli_") + info->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs the program with arguments, stdout and stderr caught in files; behind `wrapper`
    // (a command found on the PATH, with its arguments) when one is given.
    ProgramRun run(const std::vector<std::string> &arguments,
                   const std::vector<std::string> &wrapper = {})
    {
        const std::string out_path = (dir / "stdout").string();
        const std::string err_path = (dir / "stderr").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> all = wrapper;
        all.push_back(VELLACUT_MAXFLOW_PATH);
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char *> argv;
        for (std::string &a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        ProgramRun result;
        const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(spawned, 0) << "cannot start " << VELLACUT_MAXFLOW_PATH;
        if (spawned != 0)
            return result;
        int wait_status = 0;
        waitpid(pid, &wait_status, 0);
        if (WIFEXITED(wait_status))
            result.status = WEXITSTATUS(wait_status);
        result.out = file_text(out_path);
        result.err = file_text(err_path);
        return result;
    }

    std::string input(const std::string &name, const std::string &text)
    {
        write_file(dir / name, text);
        return (dir / name).string();
    }

    fs::path dir;
};

// s = 1, t = 4: 1 -> 2 (5), 1 -> 3 (4), 2 -> 3 (2), 2 -> 4 (3), 3 -> 4 (6). The cut {1, 2, 3} |
// {4} has capacity 9 = 3 + 6, and after the flow no inner node can still reach the sink.
const std::string SMALL = "c small\np max 4 5\nn 1 s\nn 4 t\na 1 2 5\na 1 3 4\na 2 3 2\n"
                          "a 2 4 3\na 3 4 6\n";

TEST_F(MaxflowCli, PrintsTheFlowAndWritesTheSinkSide)
{
    const ProgramRun r = run({"--cut", (dir / "cut.txt").string(), input("small.max", SMALL)});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "9\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(file_text(dir / "cut.txt"), "4\n");

    // With narrow arcs out of the source, those are the cut, and 2 and 3 can still send the
    // rest of their room to the sink: they are on the sink side.
    const std::string narrow = "p max 4 4\nn 1 s\nn 4 t\na 1 2 1\na 1 3 1\na 2 4 3\na 3 4 6\n";
    const ProgramRun n = run({"--cut", (dir / "cut2.txt").string(), input("narrow.max", narrow)});
    EXPECT_EQ(n.status, 0) << n.err;
    EXPECT_EQ(n.out, "2\n");
    EXPECT_EQ(file_text(dir / "cut2.txt"), "2\n3\n4\n");

    // The same answer from the grid solver: nodes 2 and 3 side by side form a grid.
    const ProgramRun fast = run(
        {"--solver", "fast", "--cut", (dir / "cut3.txt").string(), input("narrow.max", narrow)});
    EXPECT_EQ(fast.out, "2\n");
    EXPECT_EQ(file_text(dir / "cut3.txt"), "2\n3\n4\n");
}

TEST_F(MaxflowCli, HugeDeclaredNodeCountCostsOnlyTheNodesInUse)
{
    // Two billion declared ids, three in use: a graph over every id would need tens of gigabytes.
    const std::string text = "p max 2000000000 3\nn 1 s\nn 2000000000 t\na 1 777 5\n"
                             "a 777 2000000000 4\na 1 2000000000 2\n";
    const ProgramRun r = run({"--cut", (dir / "cut.txt").string(), input("huge.max", text)});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "6\n");
    EXPECT_EQ(file_text(dir / "cut.txt"), "2000000000\n");
}

TEST_F(MaxflowCli, TimePrintsBuildAndSolveOnStandardError)
{
    const ProgramRun r = run({"--time", input("small.max", SMALL)});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "9\n") << "timings never mix into the result";
    EXPECT_EQ(r.err.rfind("build: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("\nsolve: "), std::string::npos) << r.err;
}

TEST_F(MaxflowCli, HelpAndUsageErrors)
{
    const ProgramRun help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: vellacut-maxflow", 0), 0u) << help.out;

    const std::string file = input("small.max", SMALL);
    const std::vector<std::vector<std::string>> wrong = {
        {}, {"--bogus", file}, {file, "--cut"}, {file, file}, {file, "--solver", "quick"}};
    for (const auto &arguments : wrong) {
        const ProgramRun r = run(arguments);
        EXPECT_EQ(r.status, 2) << "arguments: " << arguments.size();
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("(try --help)"), std::string::npos) << r.err;
    }
}

TEST_F(MaxflowCli, EveryBadInputIsOneLineAndStatusTwo)
{
    struct Case
    {
        const char *name;
        std::string text;
        const char *where; // expected after the file name
    };
    const Case cases[] = {
        {"malformed", "p max 3 1\nn 1 s\nn 3 t\na 1 2\n", ":4: malformed arc line"},
        {"range", "p max 3 1\nn 1 s\nn 3 t\na 1 7 2\n", ":4: arc head 7 is out of range 1..3"},
        {"negative", "p max 3 1\nn 1 s\nn 3 t\na 1 2 -4\n", ":4: negative capacity '-4'"},
        {"nosource", "p max 3 1\nn 3 t\na 1 2 4\n", ":1: no source node"},
        {"nosink", "p max 3 1\nn 1 s\na 1 2 4\n", ":1: no sink node"},
        {"twoproblems", "p max 3 1\np max 3 1\n", ":2: second problem line"},
        {"arcfirst", "c\na 1 2 4\np max 3 1\n", ":2: arc line before the problem line"},
        {"empty", "", ": no problem line"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = input(std::string(c.name) + ".max", c.text);
        const ProgramRun r = run({"--cut", (dir / "never.txt").string(), file});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("vellacut-maxflow: " + file + c.where, 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "exactly one line: " << r.err;
        EXPECT_FALSE(fs::exists(dir / "never.txt")) << "no cut file after bad input";
    }

    const ProgramRun missing = run({(dir / "missing.max").string()});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err,
              "vellacut-maxflow: " + (dir / "missing.max").string()
                  + ": cannot open: No such file or directory\n");
    const ProgramRun folder = run({dir.string()});
    EXPECT_EQ(folder.status, 2);
    EXPECT_NE(folder.err.find(": cannot read: "), std::string::npos) << folder.err;
}

TEST_F(MaxflowCli, UnwritableCutFileIsStatusThree)
{
    const ProgramRun r =
        run({"--cut", (dir / "no" / "such" / "cut.txt").string(), input("small.max", SMALL)});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
}

TEST_F(MaxflowCli, FlowsPrintInFullAndRoundingIsNeverSilent)
{
    struct Case
    {
        const char *name;
        std::string text;
        int status;
        const char *out;
        bool warned;
    };
    const Case cases[] = {
        {"integral", "p max 3 2\nn 1 s\nn 3 t\na 1 2 100000\na 2 3 250000\n", 0, "100000\n", false},
        {"fraction", "p max 2 1\nn 1 s\nn 2 t\na 1 2 0.25\n", 0, "0.25\n", false},
        // 1e8 - 1 rounds back to 1e8 in single precision: the answer may be off, and says so.
        {"near1e8", "p max 4 3\nn 1 s\nn 4 t\na 1 2 100000000\na 2 3 1\na 3 4 100000000\n", 0,
         "1\n", true},
        {"infinite", "p max 2 2\nn 1 s\nn 2 t\na 1 2 3e38\na 1 2 3e38\n", 2, "", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = input(std::string(c.name) + ".max", c.text);
        fs::remove(dir / "cut.txt");
        const ProgramRun r = run({"--cut", (dir / "cut.txt").string(), file});
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(fs::exists(dir / "cut.txt"), c.status == 0) << "no cut file for a refused flow";
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err.find("warning: " + file + ": capacities or their sums exceed 2^24")
                      != std::string::npos,
                  c.warned)
            << r.err;
        EXPECT_EQ(r.err.find("exceeds the single-precision range") != std::string::npos,
                  c.status != 0)
            << r.err;
    }
}

TEST_F(MaxflowCli, InputsThatCannotBeAProblemAreOneLineAndStatusTwo)
{
    const std::string sparse = input("sparse.max", "");
    fs::resize_file(sparse, std::uintmax_t {1} << 40);
    const std::string file = input("small.max", SMALL);
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"/dev/zero"}, "vellacut-maxflow: /dev/zero: not a regular file"},
        {{sparse}, "vellacut-maxflow: " + sparse + ":1: line longer than 1 MiB"},
        {{input("count.max", "p max 100000000000000000000000 1\n")}, ":1: node count"},
        {{"--cut", file, file}, "vellacut-maxflow: " + file + ": is the input file"},
    };
    for (const auto &[arguments, start] : cases) {
        SCOPED_TRACE(start);
        const ProgramRun r = run(arguments);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(start), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "exactly one line: " << r.err;
    }
    EXPECT_EQ(file_text(file), SMALL);
}

TEST_F(MaxflowCli, ACutFileOnAFullDiskKeepsTheOldOne)
{
    const SmallDisk disk((dir / "disk").string(), 64);
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    const fs::path cut = dir / "disk" / "cut.txt";
    write_file(cut, "old\n");
    disk.fill();
    const ProgramRun r = run({"--cut", cut.string(), input("small.max", SMALL)});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    EXPECT_EQ(file_text(cut), "old\n");
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir / "disk"))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string> {"cut.txt", "filler"}));
}

TEST_F(MaxflowCli, AStagedCutFileLeftByAKilledRunWithTheSameIdIsReplaced)
{
    // In a new process id namespace the program is process 1, so its staged name is known.
    write_file(dir / ".cut.txt.vellacut-1", "stale\n");
    const ProgramRun r = run({"--cut", (dir / "cut.txt").string(), input("small.max", SMALL)},
                             {"unshare", "--pid", "--fork"});
    if (r.err.find("unshare") != std::string::npos)
        GTEST_SKIP() << "cannot start a process id namespace here (needs root): " << r.err;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file_text(dir / "cut.txt"), "4\n");
    EXPECT_FALSE(fs::exists(dir / ".cut.txt.vellacut-1"));
}

TEST_F(MaxflowCli, CutOfARandomGridCostsExactlyTheFlow)
{
    // A 30 x 30 grid with random weights: whatever the program reports, the arcs it cuts (from
    // outside the written sink side into it) must add up to the printed flow, and the source
    // must be outside, the sink inside.
    std::mt19937 rng(17);
    const int w = 30, h = 30, s = w * h + 1, t = w * h + 2;
    std::ostringstream text;
    std::vector<std::array<long, 3>> arcs;
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y) {
            const int id = x * h + y + 1;
            if (rng() % 3 == 0)
                arcs.push_back(
                    {x < w / 2 ? s : id, x < w / 2 ? id : t, static_cast<long>(rng() % 50)});
            if (x + 1 < w) {
                arcs.push_back({id, id + h, static_cast<long>(rng() % 10)});
                arcs.push_back({id + h, id, static_cast<long>(rng() % 10)});
            }
            if (y + 1 < h)
                arcs.push_back({id, id + 1, static_cast<long>(rng() % 10)});
        }
    text << "p max " << t << " " << arcs.size() << "\nn " << s << " s\nn " << t << " t\n";
    for (const auto &a : arcs)
        text << "a " << a[0] << " " << a[1] << " " << a[2] << "\n";

    const ProgramRun r = run({"--cut", (dir / "cut.txt").string(), input("grid.max", text.str())});
    ASSERT_EQ(r.status, 0) << r.err;
    std::set<long> sink_side;
    std::istringstream ids(file_text(dir / "cut.txt"));
    for (long id = 0; ids >> id;)
        sink_side.insert(id);
    EXPECT_TRUE(sink_side.count(t));
    EXPECT_FALSE(sink_side.count(s));
    long cut = 0;
    for (const auto &a : arcs)
        if (!sink_side.count(a[0]) && sink_side.count(a[1]))
            cut += a[2];
    EXPECT_GT(cut, 0);
    EXPECT_EQ(r.out, std::to_string(cut) + "\n");
}

} // namespace

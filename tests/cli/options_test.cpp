// Command-line parsing: what each option sets, and the typos that must be refused rather than
// read as 0 as the window's fields would.
#include "options.h"

#include <gtest/gtest.h>

namespace {

ParsedOptions parse(std::initializer_list<const char *> words)
{
    QStringList arguments;
    for (const char *word : words)
        arguments << QString::fromUtf8(word);
    return parse_command_line(arguments);
}

} // namespace

TEST(Options, DefaultsAreTheWindows)
{
    const ParsedOptions parsed = parse({"photo.png", "strokes.png"});
    ASSERT_TRUE(parsed.error.isEmpty()) << parsed.error.toStdString();
    const Options &o = parsed.options;
    EXPECT_EQ(o.mode, Options::Mode::single);
    EXPECT_EQ(o.image, "photo.png");
    EXPECT_EQ(o.strokes, "strokes.png");
    EXPECT_EQ(o.output_dir, ".");
    EXPECT_EQ(o.w, 1.0);
    EXPECT_EQ(o.v, 0.45);
    EXPECT_EQ(o.k, 1000.0);
    EXPECT_TRUE(o.use_bbox);
    EXPECT_EQ(o.solver, default_solver);
    EXPECT_TRUE(o.stats_json.isEmpty());
    EXPECT_FALSE(o.skip_existing);
    EXPECT_TRUE(o.manifest.isEmpty());
}

TEST(Options, EveryOptionReachesItsField)
{
    const ParsedOptions parsed = parse({"-w", "2.5", "-v=1", "a.png", "-k", "1e3", "--no-bbox",
                                        "--output=out", "--stats-json", "s.json", "b.png"});
    // "-v=1" is not a long option: only "--name=value" splits at the equals sign.
    EXPECT_FALSE(parsed.error.isEmpty());

    const ParsedOptions ok = parse({"-w", "2.5", "-v", "-0.25", "a.png", "-k", "1e3", "--no-bbox",
                                    "--output=out", "--stats-json", "s.json", "b.png",
                                    "--skip-existing", "--manifest=m.jsonl", "--solver", "fast"});
    ASSERT_TRUE(ok.error.isEmpty()) << ok.error.toStdString();
    EXPECT_TRUE(ok.options.skip_existing);
    EXPECT_EQ(ok.options.manifest, "m.jsonl");
    EXPECT_EQ(ok.options.solver, SolverChoice::fast);
    EXPECT_EQ(parse({"a", "b", "--solver=reference"}).options.solver, SolverChoice::reference);
    EXPECT_EQ(ok.options.w, 2.5);
    EXPECT_EQ(ok.options.v, -0.25); // a value may start with a dash
    EXPECT_EQ(ok.options.k, 1000.0);
    EXPECT_EQ(ok.options.w_text, "2.5");
    EXPECT_EQ(ok.options.k_text, "1e3");
    EXPECT_FALSE(ok.options.use_bbox);
    EXPECT_EQ(ok.options.output_dir, "out");
    EXPECT_EQ(ok.options.stats_json, "s.json");
    EXPECT_EQ(ok.options.image, "a.png");
    EXPECT_EQ(ok.options.strokes, "b.png");
}

TEST(Options, DoubleDashEndsOptions)
{
    const ParsedOptions parsed = parse({"-o", "d", "--", "-photo.png", "--no-bbox"});
    ASSERT_TRUE(parsed.error.isEmpty()) << parsed.error.toStdString();
    EXPECT_EQ(parsed.options.image, "-photo.png");
    EXPECT_EQ(parsed.options.strokes, "--no-bbox");
    EXPECT_TRUE(parsed.options.use_bbox);
}

TEST(Options, BatchModeAndJobs)
{
    const ParsedOptions parsed = parse({"--batch", "-", "-j", "3"});
    ASSERT_TRUE(parsed.error.isEmpty()) << parsed.error.toStdString();
    EXPECT_EQ(parsed.options.mode, Options::Mode::batch);
    EXPECT_EQ(parsed.options.batch_list, "-");
    EXPECT_EQ(parsed.options.jobs, 3);
    EXPECT_EQ(parse({"--batch=list.txt", "--jobs=2"}).options.jobs, 2);
}

TEST(Options, HelpAndVersionWinOverEverythingElse)
{
    EXPECT_EQ(parse({"a.png", "--help"}).options.mode, Options::Mode::help);
    EXPECT_EQ(parse({"-h"}).options.mode, Options::Mode::help);
    EXPECT_EQ(parse({"--version", "-w", "x"}).options.mode, Options::Mode::version);
}

TEST(Options, MistakesAreRefusedWithTheirReason)
{
    struct Case
    {
        std::initializer_list<const char *> words;
        const char *reason_contains;
    };
    const Case cases[] = {
        {{"a.png", "b.png", "-w", "abc"}, "\"abc\" is not a number"},
        {{"a.png", "b.png", "-v", "0.4x"}, "\"0.4x\" is not a number"},
        {{"a.png", "b.png", "-k", ""}, "\"\" is not a number"},
        {{"a.png", "b.png", "-k", "nan"}, "\"nan\" is not a number"},
        {{"a.png", "b.png", "-k", "inf"}, "\"inf\" is not a number"},
        {{"a.png", "b.png", "-w", " 1"}, "\" 1\" is not a number"},
        {{"a.png", "b.png", "-k"}, "option -k needs a value"},
        {{"a.png", "b.png", "--colour"}, "unknown option --colour"},
        {{"a.png", "b.png", "--solver", "quick"}, "\"quick\" is neither fast nor reference"},
        {{"a.png"}, "expected IMAGE and STROKES"},
        {{"a.png", "b.png", "c.png"}, "unexpected \"c.png\""},
        {{"a.png", "b.png", "-j", "2"}, "-j applies only with --batch"},
        {{"--batch", "l.txt", "-j", "0"}, "\"0\" is not a whole number from 1 to 256"},
        {{"--batch", "l.txt", "-j", "two"}, "\"two\" is not a whole number"},
        {{"--batch", "l.txt", "a.png"}, "unexpected \"a.png\""},
        {{"a.png", "b.png", "-o", ""}, "needs a directory"},
        {{"a.png", "b.png", "--manifest"}, "option --manifest needs a value"},
        {{"a.png", "b.png", "--manifest="}, "option --manifest needs a file name"},
    };
    for (const Case &c : cases) {
        const ParsedOptions parsed = parse(c.words);
        EXPECT_TRUE(parsed.error.contains(QLatin1String(c.reason_contains)))
            << "error: \"" << parsed.error.toStdString() << "\", expected to contain \""
            << c.reason_contains << "\"";
    }
}

TEST(Options, HelpMentionsEveryOption)
{
    const QString help = help_text();
    for (const char *option : {"-o, --output DIR", "-w W", "-v V", "-k K", "--no-bbox",
                               "--stats-json FILE", "--skip-existing", "--manifest FILE",
                               "--batch LIST", "-j, --jobs N", "--help", "--version", "Exit status",
                               "_mask.png", "_object.png", "_background.png", "100 megapixels"})
        EXPECT_TRUE(help.contains(QLatin1String(option))) << option;
}

// The batch runner. Every image runs in a worker process of its own: its console lines are
// captured whole and cannot interleave with another image's, and an image that brings its worker
// down (a fatal graph error ends the process) costs only that image.
#include "batch.h"

#include "cli_console.h"
#include "exit_codes.h"
#include "segment_image.h"
#include "stats_json.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Splits one line into fields; false on an unterminated quote.
[[nodiscard]] bool split_fields(const QString &line, QStringList &fields)
{
    qsizetype n = 0;
    const qsizetype size = line.size();
    while (n < size) {
        while (n < size && line.at(n).isSpace())
            ++n;
        if (n >= size)
            break;
        QString field;
        if (line.at(n) == u'"') {
            const qsizetype close = line.indexOf(u'"', n + 1);
            if (close < 0)
                return false;
            field = line.mid(n + 1, close - n - 1);
            n = close + 1;
        } else {
            const qsizetype start = n;
            while (n < size && !line.at(n).isSpace())
                ++n;
            field = line.mid(start, n - start);
        }
        fields << field;
    }
    return true;
}

QString format_duration(double seconds)
{
    const auto whole = static_cast<long long>(seconds + 0.5);
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

// The last non-empty line of a worker's standard error, without the program prefix.
QString last_error_line(const QByteArray &text)
{
    const QList<QByteArray> lines = text.trimmed().split('\n');
    QString line = lines.isEmpty() ? QString() : QString::fromLocal8Bit(lines.last()).trimmed();
    const QLatin1String prefix("vellacut-cli: ");
    if (line.startsWith(prefix))
        line = line.mid(prefix.size());
    return line;
}

// The message of the last "error: " line of a worker's standard output, or empty.
QString engine_error_line(const QByteArray &text)
{
    const QList<QByteArray> lines = text.split('\n');
    for (auto line = lines.rbegin(); line != lines.rend(); ++line)
        if (line->startsWith("error: "))
            return QString::fromLocal8Bit(line->mid(7)).trimmed();
    return {};
}

// What became of one entry of the list.
struct Outcome
{
    bool finished = false;
    bool skipped = false; // left alone: its results were already there
    int exit_code = 0; // -1: the worker crashed or could not start
    QByteArray out;
    QByteArray err;
    QString error; // the failure line when the worker gave none
};

class BatchRun
{
public:
    BatchRun(const Options &run_options, QList<BatchEntry> list_entries)
        : options(run_options)
        , entries(std::move(list_entries))
        , outcomes(static_cast<std::size_t>(entries.size()))
    {
    }

    int run()
    {
        if (workers_write_stats() && !stats_dir.isValid()) {
            cli_console::error(QStringLiteral("cannot create a temporary folder for the "
                                              "statistics of the workers"));
            return exit_code::cannot_write;
        }
        reject_clashing_names();
        started_at = Clock::now();
        show_progress_now = cli_console::stderr_is_terminal();
        QTimer ticker;
        if (show_progress_now) {
            QObject::connect(&ticker, &QTimer::timeout, [this] { draw_progress(); });
            ticker.start(1000);
        }
        start_more();
        if (!all_emitted())
            QCoreApplication::exec();
        ticker.stop();
        if (show_progress_now)
            cli_console::progress(QString());

        int failures = 0;
        int skipped = 0;
        for (const Outcome &outcome : outcomes) {
            failures += outcome.exit_code == 0 ? 0 : 1;
            skipped += outcome.skipped ? 1 : 0;
        }
        const auto total = static_cast<int>(entries.size());
        const QString skipped_part =
            skipped == 0 ? QString() : QStringLiteral(", %1 skipped").arg(skipped);
        cli_console::line(QStringLiteral("%1 of %2 images segmented%3, %4 failed")
                              .arg(total - failures - skipped)
                              .arg(total)
                              .arg(skipped_part)
                              .arg(failures));
        if (!options.stats_json.isEmpty() && !write_stats())
            return exit_code::cannot_write;
        if (!manifest_ok)
            return exit_code::cannot_write;
        return failures == 0 ? exit_code::done : exit_code::failed;
    }

private:
    // Two pairs whose images share a base name would write the same three files; the later one
    // is refused instead of silently replacing the earlier one's results. So is a pair whose
    // results would overwrite the list or the statistics file.
    void reject_clashing_names()
    {
        QHash<QString, int> first_line;
        for (qsizetype n = 0; n < entries.size(); ++n) {
            BatchEntry &entry = entries[n];
            if (!entry.error.isEmpty())
                continue;
            const QString clash = check_outputs_spare_inputs(
                output_paths(entry.image, options.output_dir),
                {options.stats_json,
                 options.batch_list == QLatin1String("-") ? QString() : options.batch_list});
            if (!clash.isEmpty()) {
                entry.error = clash;
                continue;
            }
            const QString base = output_base_name(entry.image);
            const auto found = first_line.constFind(base);
            if (found == first_line.constEnd()) {
                first_line.insert(base, entry.line);
                continue;
            }
            entry.error = QStringLiteral("%1: its results %2_mask.png, ... would replace those of "
                                         "line %3 of the list (same name before the first dot)")
                              .arg(entry.image, base)
                              .arg(found.value());
        }
    }

    Outcome &outcome(qsizetype n) { return outcomes[static_cast<std::size_t>(n)]; }

    // The workers' statistics feed both the statistics file and the manifest.
    bool workers_write_stats() const
    {
        return !options.stats_json.isEmpty() || !options.manifest.isEmpty();
    }

    QString stats_path(qsizetype n) const
    {
        return stats_dir.filePath(QStringLiteral("%1.json").arg(n));
    }

    QStringList worker_arguments(qsizetype n) const
    {
        const BatchEntry &entry = entries.at(n);
        QStringList arguments {QStringLiteral("-o"), options.output_dir,   QStringLiteral("-w"),
                               options.w_text,       QStringLiteral("-v"), options.v_text,
                               QStringLiteral("-k"), options.k_text};
        if (!options.use_bbox)
            arguments << QStringLiteral("--no-bbox");
        arguments << QStringLiteral("--solver") << QString::fromLatin1(solver_name(options.solver));
        if (workers_write_stats())
            arguments << QStringLiteral("--stats-json") << stats_path(n);
        // After "--" a path that starts with a dash is still a path.
        arguments << QStringLiteral("--") << entry.image << entry.strokes;
        return arguments;
    }

    void start_more()
    {
        while (running < options.jobs && next_to_start < entries.size()) {
            const qsizetype n = next_to_start++;
            const BatchEntry &entry = entries.at(n);
            if (!entry.error.isEmpty()) {
                finish(n, 2, {}, {}, entry.error);
                continue;
            }
            // Checked here rather than in a worker: a rerun over finished work starts no process.
            if (options.skip_existing && outputs_exist(entry.image, options.output_dir)) {
                outcome(n).skipped = true;
                finish(n, 0, (skipped_line(entry.image, options.output_dir) + u'\n').toLocal8Bit(),
                       {}, {});
                continue;
            }
            auto *process = new QProcess;
            ++running;
            current_file = entry.image;
            QObject::connect(process, &QProcess::finished,
                             [this, n, process](int code, QProcess::ExitStatus status) {
                                 --running;
                                 const QByteArray out = process->readAllStandardOutput();
                                 const QByteArray err = process->readAllStandardError();
                                 process->deleteLater();
                                 const bool crashed = status == QProcess::CrashExit;
                                 finish(n, crashed ? -1 : code, out, err,
                                        crashed ? QStringLiteral("%1: the worker process crashed")
                                                      .arg(entries.at(n).image)
                                                : QString());
                                 start_more();
                             });
            QObject::connect(process, &QProcess::errorOccurred,
                             [this, n, process](QProcess::ProcessError error) {
                                 if (error != QProcess::FailedToStart)
                                     return;
                                 --running;
                                 process->deleteLater();
                                 finish(n, -1, {}, {},
                                        QStringLiteral("%1: cannot start a worker process: %2")
                                            .arg(entries.at(n).image, process->errorString()));
                                 start_more();
                             });
            process->start(QCoreApplication::applicationFilePath(), worker_arguments(n));
        }
        draw_progress();
        if (all_emitted())
            QCoreApplication::exit(0);
    }

    void finish(qsizetype n, int exit_code, const QByteArray &out, const QByteArray &err,
                const QString &error)
    {
        Outcome &done = outcome(n);
        done.finished = true;
        done.exit_code = exit_code;
        done.out = out;
        done.err = err;
        done.error = error;
        if (exit_code != 0 && done.err.trimmed().isEmpty() && done.error.isEmpty()) {
            // The engine gives up (out of memory) with an "error: " line among its console
            // lines on standard output.
            const QString engine = engine_error_line(out);
            done.error = engine.isEmpty()
                ? QStringLiteral("%1: the worker ended with exit status %2 and no message")
                      .arg(entries.at(n).image)
                      .arg(exit_code)
                : QStringLiteral("%1: the engine gave up: %2").arg(entries.at(n).image, engine);
        }
        ++finished_count;
        if (!options.manifest.isEmpty()) {
            const QString problem = append_manifest_line(options.manifest, entry_of(n));
            if (!problem.isEmpty()) {
                // Said once: the same reason would follow for every image.
                if (manifest_ok)
                    cli_console::error(problem);
                manifest_ok = false;
            }
        }
        emit_ready();
    }

    // Emits the blocks of finished entries in list order, so that the output of a batch does
    // not depend on the number of jobs or on which image happened to finish first.
    void emit_ready()
    {
        const bool had_progress = show_progress_now;
        if (had_progress)
            cli_console::progress(QString());
        while (next_to_emit < entries.size() && outcome(next_to_emit).finished) {
            const qsizetype n = next_to_emit++;
            const BatchEntry &entry = entries.at(n);
            const Outcome &done = outcome(n);
            cli_console::line(QStringLiteral("Image %1 of %2: %3 %4")
                                  .arg(n + 1)
                                  .arg(entries.size())
                                  .arg(entry.image, entry.strokes));
            cli_console::write_stdout(done.out);
            cli_console::write_stderr(done.err);
            if (!done.error.isEmpty())
                cli_console::error(done.error);
        }
        if (had_progress)
            draw_progress();
    }

    bool all_emitted() const { return next_to_emit >= entries.size(); }

    void draw_progress()
    {
        if (!show_progress_now || all_emitted())
            return;
        const double elapsed = std::chrono::duration<double>(Clock::now() - started_at).count();
        QString text = QStringLiteral("[%1/%2] %3  elapsed %4")
                           .arg(finished_count)
                           .arg(entries.size())
                           .arg(current_file, format_duration(elapsed));
        if (finished_count > 0) {
            const double rest = elapsed / static_cast<double>(finished_count)
                * static_cast<double>(entries.size() - finished_count);
            text += QStringLiteral(", about %1 left").arg(format_duration(rest));
        }
        cli_console::progress(text);
    }

    // The record of entry n once it is finished: the worker's statistics, or why it failed.
    QJsonObject entry_of(qsizetype n) const
    {
        const BatchEntry &entry = entries.at(n);
        const Outcome &done = outcomes[static_cast<std::size_t>(n)];
        if (done.skipped)
            return skipped_entry(entry.image, entry.strokes,
                                 output_paths(entry.image, options.output_dir));
        const QJsonArray written =
            done.exit_code == 0 ? read_stats_entries(stats_path(n)) : QJsonArray();
        if (!written.isEmpty())
            return written.first().toObject();
        const QString error = done.error.isEmpty() ? last_error_line(done.err) : done.error;
        return failed_entry(entry.image, entry.strokes, done.exit_code,
                            done.exit_code == 0 ? QStringLiteral("the worker wrote no statistics")
                                                : error);
    }

    [[nodiscard]] bool write_stats()
    {
        QJsonArray images;
        for (qsizetype n = 0; n < entries.size(); ++n)
            images.append(entry_of(n));
        const QString problem = write_stats_file(options.stats_json, images);
        if (problem.isEmpty())
            return true;
        cli_console::error(problem);
        return false;
    }

    const Options &options;
    QList<BatchEntry> entries;
    std::vector<Outcome> outcomes;
    QTemporaryDir stats_dir;
    qsizetype next_to_start = 0;
    qsizetype next_to_emit = 0;
    int running = 0;
    qsizetype finished_count = 0;
    QString current_file;
    Clock::time_point started_at;
    bool show_progress_now = false;
    bool manifest_ok = true;
};

} // namespace

BatchList parse_batch_list(const QByteArray &text, const QString &list_name)
{
    BatchList list;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QString line = QString::fromLocal8Bit(lines.at(n)).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        BatchEntry entry;
        entry.line = static_cast<int>(n + 1);
        QStringList fields;
        if (!split_fields(line, fields)) {
            entry.error = QStringLiteral("%1: line %2: a double quote is not closed")
                              .arg(list_name)
                              .arg(entry.line);
        } else if (fields.size() != 2 || fields.at(0).isEmpty() || fields.at(1).isEmpty()) {
            entry.error = QStringLiteral("%1: line %2: expected IMAGE STROKES, found %3 field(s)")
                              .arg(list_name)
                              .arg(entry.line)
                              .arg(fields.size());
        } else {
            entry.image = fields.at(0);
            entry.strokes = fields.at(1);
        }
        list.entries << entry;
    }
    return list;
}

BatchList read_batch_list(const QString &path)
{
    const bool from_stdin = path == QLatin1String("-");
    const QString name = from_stdin ? QStringLiteral("standard input") : path;
    if (!from_stdin && QFileInfo(path).isDir()) {
        BatchList list;
        list.error = QStringLiteral("%1: is a directory, not a list").arg(path);
        return list;
    }
    QFile file(from_stdin ? QString() : path);
    const bool opened =
        from_stdin ? file.open(stdin, QIODevice::ReadOnly) : file.open(QIODevice::ReadOnly);
    if (!opened) {
        BatchList list;
        list.error = QStringLiteral("%1: cannot read the list: %2").arg(name, file.errorString());
        return list;
    }
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        BatchList list;
        list.error = QStringLiteral("%1: cannot read the list: %2").arg(name, file.errorString());
        return list;
    }
    return parse_batch_list(text, name);
}

int run_batch(const Options &options)
{
    BatchList list = read_batch_list(options.batch_list);
    if (!list.error.isEmpty()) {
        cli_console::error(list.error);
        return exit_code::bad_input;
    }
    BatchRun run(options, std::move(list.entries));
    return run.run();
}

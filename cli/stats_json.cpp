// Building and writing the statistics file with Qt's JSON classes.
#include "stats_json.h"

#include <imaging/output_files.h>

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Stages that did not run are left out rather than given a made-up time.
void put_time(QJsonObject &times, const char *name, double milliseconds)
{
    if (milliseconds >= 0.0)
        times.insert(QLatin1String(name), milliseconds);
}

} // namespace

QJsonObject stats_entry(const ImageJob &job, const ImageReport &report)
{
    QJsonObject times;
    put_time(times, "load", report.times.load);
    put_time(times, "seeds", report.times.seeds);
    put_time(times, "graph", report.times.engine.graph);
    put_time(times, "statistics", report.times.engine.statistics);
    put_time(times, "gradient", report.times.engine.gradient);
    put_time(times, "edges", report.times.engine.edges);
    put_time(times, "solve", report.times.engine.solve);
    put_time(times, "compute", report.times.compute);
    put_time(times, "images", report.times.images);
    put_time(times, "save", report.times.save);

    QJsonObject entry;
    entry.insert(QStringLiteral("image"), job.image);
    entry.insert(QStringLiteral("strokes"), job.strokes);
    entry.insert(QStringLiteral("status"), QStringLiteral("done"));
    entry.insert(QStringLiteral("width"), report.width);
    entry.insert(QStringLiteral("height"), report.height);
    entry.insert(QStringLiteral("parameters"),
                 QJsonObject {{QStringLiteral("w"), job.options.w},
                              {QStringLiteral("v"), job.options.v},
                              {QStringLiteral("k"), job.options.k},
                              {QStringLiteral("bbox"), job.options.use_bbox},
                              {QStringLiteral("solver"),
                               QString::fromLatin1(solver_name(job.options.solver))}});
    entry.insert(QStringLiteral("flow"), report.flow);
    entry.insert(QStringLiteral("seeds"),
                 QJsonObject {{QStringLiteral("background"), report.background_seeds},
                              {QStringLiteral("object"), report.object_seeds}});
    entry.insert(QStringLiteral("region"),
                 QJsonObject {{QStringLiteral("x_begin"), report.roi_x_begin},
                              {QStringLiteral("x_end"), report.roi_x_end},
                              {QStringLiteral("y_begin"), report.roi_y_begin},
                              {QStringLiteral("y_end"), report.roi_y_end}});
    entry.insert(QStringLiteral("object_pixels"), report.object_pixels);
    entry.insert(QStringLiteral("outputs"), QJsonArray::fromStringList(report.outputs));
    entry.insert(QStringLiteral("times_ms"), times);
    return entry;
}

QJsonObject failed_entry(const QString &image, const QString &strokes, int exit_code,
                         const QString &error)
{
    return QJsonObject {{QStringLiteral("image"), image},
                        {QStringLiteral("strokes"), strokes},
                        {QStringLiteral("status"), QStringLiteral("failed")},
                        {QStringLiteral("exit_code"), exit_code},
                        {QStringLiteral("error"), error}};
}

QJsonObject skipped_entry(const QString &image, const QString &strokes, const QStringList &outputs)
{
    return QJsonObject {{QStringLiteral("image"), image},
                        {QStringLiteral("strokes"), strokes},
                        {QStringLiteral("status"), QStringLiteral("skipped")},
                        {QStringLiteral("outputs"), QJsonArray::fromStringList(outputs)}};
}

QString append_manifest_line(const QString &path, const QJsonObject &entry)
{
    const QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return QStringLiteral("%1: cannot be opened for appending: %2")
            .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    // One write of the whole line: with O_APPEND the kernel places it at the end in one piece,
    // even while other processes append to the same file.
    const ssize_t written = ::write(fd, line.constData(), static_cast<std::size_t>(line.size()));
    const int write_errno = errno;
    const int close_result = ::close(fd);
    const int close_errno = errno;
    QString reason;
    if (written < 0)
        reason = QString::fromLocal8Bit(std::strerror(write_errno));
    else if (written != static_cast<ssize_t>(line.size()))
        reason = QStringLiteral("only part of the line was written");
    else if (close_result != 0)
        reason = QString::fromLocal8Bit(std::strerror(close_errno));
    if (!reason.isEmpty())
        return QStringLiteral("%1: cannot be appended to: %2").arg(path, reason);
    return {};
}

QString write_stats_file(const QString &path, const QJsonArray &entries)
{
    const QJsonObject root {{QStringLiteral("program"), QStringLiteral("vellacut-cli")},
                            {QStringLiteral("version"), QStringLiteral(VELLACUT_VERSION)},
                            {QStringLiteral("images"), entries}};
    const QFileInfo info(path);
    return write_output_set(
        info.path(), {{info.fileName(), QJsonDocument(root).toJson(QJsonDocument::Indented)}});
}

QJsonArray read_stats_entries(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    return document.object().value(QStringLiteral("images")).toArray();
}

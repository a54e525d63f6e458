// Building and writing the statistics file with Qt's JSON classes.
#include "stats_json.h"

#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>

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
    put_time(times, "graph", report.times.graph);
    put_time(times, "statistics", report.times.statistics);
    put_time(times, "gradient", report.times.gradient);
    put_time(times, "edges", report.times.edges);
    put_time(times, "solve", report.times.solve);
    put_time(times, "compute", report.times.compute);
    put_time(times, "images", report.times.images);
    put_time(times, "save", report.times.save);

    QJsonObject entry;
    entry.insert(QStringLiteral("image"), job.image);
    entry.insert(QStringLiteral("strokes"), job.strokes);
    entry.insert(QStringLiteral("status"), QStringLiteral("done"));
    entry.insert(QStringLiteral("width"), report.width);
    entry.insert(QStringLiteral("height"), report.height);
    entry.insert(
        QStringLiteral("parameters"),
        QJsonObject {{QStringLiteral("w"), job.w},
                     {QStringLiteral("v"), job.v},
                     {QStringLiteral("k"), job.k},
                     {QStringLiteral("bbox"), job.use_bbox},
                     {QStringLiteral("solver"), QString::fromLatin1(solver_name(job.solver))}});
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

QString write_stats_file(const QString &path, const QJsonArray &entries)
{
    const QJsonObject root {{QStringLiteral("program"), QStringLiteral("vellacut-cli")},
                            {QStringLiteral("version"), QStringLiteral(VELLACUT_VERSION)},
                            {QStringLiteral("images"), entries}};
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("%1: cannot be written: %2").arg(path, file.errorString());
    file.write(QJsonDocument(root).toJson(QJsonDocument::Indented));
    if (!file.commit())
        return QStringLiteral("%1: cannot be written: %2").arg(path, file.errorString());
    return {};
}

QJsonArray read_stats_entries(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    return document.object().value(QStringLiteral("images")).toArray();
}

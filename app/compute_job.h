// ComputeJob runs the window's COMPUTE, and the warm-up after a picture opens, on one worker
// thread, and reports their progress and outcome back on the GUI thread.
#pragma once

#include <imaging/compute_run.h>
#include <segmentation/compute_control.h>

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <memory>
#include <optional>
#include <utility>

template<typename T>
class QFutureWatcher;

// One task at a time runs on the worker; while it runs the worker alone uses the engine, so the
// GUI thread must call cancel_and_wait() before it touches the engine itself. A COMPUTE asked for
// while another task runs stops that task and starts from its own snapshot once the worker is
// free: the latest request wins. All members are used from the GUI thread only.
class ComputeJob : public QObject
{
    Q_OBJECT

public:
    // `engine` must outlive the job; the job's destructor stops and waits for the worker.
    ComputeJob(Segmenter &engine, QObject *parent);
    ~ComputeJob() override;

    // Starts a COMPUTE of `request`, stopping whatever runs first.
    void start(ComputeRequest request);
    // Prepares the memory of a COMPUTE of the engine's current image on the worker, unless
    // something else runs or waits. Invisible to the user: no signal reports it.
    void warm_up();
    // Stops the running or waiting COMPUTE; returns at once, and cancelled() follows once the
    // worker has stopped. A warm-up goes on.
    void cancel();
    // Stops every task and returns once the worker has let go of the engine. A COMPUTE stopped
    // so reports cancelled() before this returns.
    void cancel_and_wait();
    // True while a COMPUTE runs or waits to run.
    bool computing() const { return task_is_compute || pending.has_value(); }
    // What the status bar shows while a COMPUTE runs: its stage, the seconds since it started
    // and, while solving, the augmenting paths found so far.
    QString progress_text() const;
    // Seconds since the running (or last) COMPUTE started.
    double elapsed_seconds() const;

signals:
    // A COMPUTE started on the worker.
    void started();
    // progress_text() has moved on; sent at least twice a second while a COMPUTE runs.
    void progress(const QString &text);
    // A COMPUTE ran to its end, or the engine refused it (too few seeds).
    void finished(const ComputeOutcome &outcome);
    // A COMPUTE was stopped before its end; its results are dropped.
    void cancelled();

private:
    void launch(std::optional<ComputeRequest> request);
    // Takes the outcome of the task that ended and starts the waiting COMPUTE, if any.
    // from_watcher: called from the watcher's own signal (the watcher is then deleted later).
    void task_ended(bool from_watcher);

    Segmenter &engine;
    QThreadPool pool; // one thread: tasks never overlap on the engine
    QFutureWatcher<ComputeOutcome> *watcher = nullptr; // the running task, or null when idle
    std::shared_ptr<ComputeControl> control; // the running task's
    bool task_is_compute = false;
    bool stop_asked = false; // the running task was told to stop: its outcome is dropped
    std::optional<ComputeRequest> pending; // the COMPUTE that starts when the worker is free
    QElapsedTimer clock;
    QTimer ticker;
};

// The worker side of the window: one thread that runs COMPUTE and warm-up tasks in turn, a
// ticker that turns the engine's stage and counters into status text, and the hand-over of each
// outcome to the GUI thread.
#include "compute_job.h"

#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

namespace {

// Status bar updates per second while a COMPUTE runs.
constexpr int ticks_per_second = 5;

} // namespace

ComputeJob::ComputeJob(Segmenter &engine_, QObject *parent)
    : QObject(parent)
    , engine(engine_)
{
    pool.setMaxThreadCount(1);
    // The worker's thread stays for the next task rather than being made anew each time.
    pool.setExpiryTimeout(-1);
    ticker.setInterval(1000 / ticks_per_second);
    connect(&ticker, &QTimer::timeout, this, [this] { emit progress(progress_text()); });
}

ComputeJob::~ComputeJob()
{
    cancel_and_wait();
}

void ComputeJob::start(ComputeRequest request)
{
    pending = std::move(request);
    if (watcher == nullptr) {
        launch(std::exchange(pending, std::nullopt));
        return;
    }
    // The running task ends soon; task_ended() then starts this one.
    control->request_stop();
    stop_asked = true;
}

void ComputeJob::warm_up()
{
    if (watcher == nullptr && !pending)
        launch(std::nullopt);
}

void ComputeJob::cancel()
{
    pending.reset();
    if (watcher != nullptr && task_is_compute) {
        control->request_stop();
        stop_asked = true;
    }
}

void ComputeJob::cancel_and_wait()
{
    pending.reset();
    if (watcher == nullptr)
        return;
    control->request_stop();
    stop_asked = true;
    watcher->waitForFinished();
    task_ended(false);
}

QString ComputeJob::progress_text() const
{
    if (!task_is_compute)
        return {};
    const ComputeStage stage = control->current();
    QString text = tr("Computing: %1, %2 s")
                       .arg(QString::fromLatin1(stage_name(stage)))
                       .arg(elapsed_seconds(), 0, 'f', 1);
    if (stage == ComputeStage::solve)
        text += tr(", %1 augmenting paths")
                    .arg(control->solve.progress.load(std::memory_order_relaxed));
    return text + tr(" (Esc cancels)");
}

double ComputeJob::elapsed_seconds() const
{
    return clock.isValid() ? static_cast<double>(clock.elapsed()) / 1000.0 : 0.0;
}

void ComputeJob::launch(std::optional<ComputeRequest> request)
{
    control = std::make_shared<ComputeControl>();
    task_is_compute = request.has_value();
    if (task_is_compute)
        control->enter(ComputeStage::seeds);
    stop_asked = false;
    watcher = new QFutureWatcher<ComputeOutcome>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this] { task_ended(true); });
    // The task holds its own share of the control, and its own snapshot of the request.
    Segmenter *target = &engine;
    watcher->setFuture(
        QtConcurrent::run(&pool, [target, task_control = control, request = std::move(request)] {
            target->control = task_control.get();
            ComputeOutcome outcome;
            if (request)
                outcome = run_compute(*request, *target);
            else
                warm_up_compute(*target);
            target->control = nullptr;
            return outcome;
        }));
    if (task_is_compute) {
        clock.start();
        ticker.start();
        emit started();
        emit progress(progress_text());
    }
}

void ComputeJob::task_ended(bool from_watcher)
{
    if (watcher == nullptr)
        return;
    // The watcher's signal may still be queued after a wait; deleting the watcher drops it.
    QFutureWatcher<ComputeOutcome> *ended = std::exchange(watcher, nullptr);
    const ComputeOutcome outcome = ended->result();
    if (from_watcher)
        ended->deleteLater();
    else
        delete ended;
    const bool was_compute = std::exchange(task_is_compute, false);
    const bool dropped = std::exchange(stop_asked, false);
    if (was_compute) {
        ticker.stop();
        // Asked to stop: the outcome is dropped even if the worker had already finished, so
        // that what the user sees always follows the last thing asked.
        if (dropped || outcome.result == ComputeResult::cancelled)
            emit cancelled();
        else
            emit finished(outcome);
    }
    control.reset();
    if (pending && watcher == nullptr)
        launch(std::exchange(pending, std::nullopt));
}

#include "platform/video/device/Opening.h"

#include "platform/video/device/Messages.h"
#include "platform/video/decode/IndexCache.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace video {

namespace {

// Holds the caller until the open is done: on the spot for a moment, then with its event
// loop running. User input waits meanwhile, so nothing clicked can start a second open or
// use a half-made device; paint events, timers and commands arriving by other ways run.
// `loop` is the one the open quits as it ends (a posted call, so at once, not at the next
// look). False when the application quit meanwhile.
template <typename T>
bool waitKeepingEventsAlive(std::future<T> &done, int holdMs, QEventLoop &loop)
{
    using namespace std::chrono;
    if (done.wait_for(milliseconds(holdMs)) == std::future_status::ready)
        return true;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        done.wait(); // no event loop of ours to keep running
        return true;
    }
    // Done between the look above and now: its quit already waits in the queue.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    // Quitting the application ends every event loop, this one too, before the open is done.
    return done.wait_for(seconds(0)) == std::future_status::ready;
}

} // namespace

OpenHold &openHold()
{
    static OpenHold settings;
    return settings;
}

DecodeOptions playerOptions()
{
    DecodeOptions options;
    options.indexCache = IndexCache::standardFolder();
    return options;
}

std::unique_ptr<FrameSource> openKeepingEventsAlive(const QString &path, OpenError *error,
    const DecodeOptions &options)
{
    struct Outcome {
        std::unique_ptr<FrameSource> source;
        OpenError error;
    };
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    // Before the thread, and gone only after it is joined: the thread posts its quit here.
    QEventLoop loop;
    std::promise<Outcome> promise;
    std::future<Outcome> done = promise.get_future();
    std::thread worker([&promise, &loop, path, cancelled, options] {
        try {
            Outcome outcome;
            outcome.source = openFrameSource(path, &outcome.error, cancelled.get(), options);
            promise.set_value(std::move(outcome));
        } catch (...) { // out of memory, say: thrown to the caller below
            promise.set_exception(std::current_exception());
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    if (!waitKeepingEventsAlive(done, openHold().holdMs, loop))
        cancelled->store(true);
    worker.join();
    Outcome outcome = done.get();
    if (!outcome.source && error)
        *error = outcome.error;
    return std::move(outcome.source);
}

std::unique_ptr<AudioTrack> openSoundOf(const QString &path, const FrameSource &source,
    OpenError *error)
{
    if (source.info().hasAudio)
        return openAudioTrack(path, error, source.info().streamId);
    if (error)
        *error = OpenError::Why::NoSound;
    return nullptr;
}

std::unique_ptr<FrameSource> openFrameSource(const QString &path, QString *error,
    const DecodeOptions &options)
{
    OpenError why;
    std::unique_ptr<FrameSource> source = openFrameSource(path, &why, nullptr, options);
    if (!source && error)
        *error = messages::openFailure(why);
    return source;
}

} // namespace video

#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <functional>
#include <type_traits>
#include <utility>

// The one way any thread reaches the user-interface thread (the thread of
// the application object). Widgets, the tray and the list model are touched
// there only; workers hand their work over with these calls.
//
// - RunOnUi queues the call and returns at once. With a context object the
//   call is dropped when that object is gone before it runs.
// - AskOnUi runs the call on the UI thread and waits for its answer; called
//   on the UI thread itself it simply runs. A worker waits in a blocking
//   queued call, so the UI thread must still be running its event loop.
//
// Without an application object there is no UI thread (headless tests of
// the core): both then run the call on the calling thread.

// True on the thread of the application object, or when there is none.
inline bool OnUiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app == nullptr || QThread::currentThread() == app->thread();
}

// States the rule at entry points that touch widgets; active in debug builds.
#define KESTRELLE_ASSERT_UI_THREAD()                                                               \
    Q_ASSERT_X(OnUiThread(), Q_FUNC_INFO, "called off the UI thread")

inline void RunOnUi(const QObject* context, std::function<void()> op)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        op();
        return;
    }
    QObject* target = context != nullptr ? const_cast<QObject*>(context) : app;
    QMetaObject::invokeMethod(target, std::move(op), Qt::QueuedConnection);
}

inline void RunOnUi(std::function<void()> op)
{
    RunOnUi(nullptr, std::move(op));
}

template <typename F> auto AskOnUi(F&& op) -> std::invoke_result_t<F>
{
    using Result = std::invoke_result_t<F>;
    QCoreApplication* app = QCoreApplication::instance();
    if (OnUiThread())
        return op();
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(
            app, [&] { op(); }, Qt::BlockingQueuedConnection);
    } else {
        Result answer{};
        QMetaObject::invokeMethod(
            app, [&] { answer = op(); }, Qt::BlockingQueuedConnection);
        return answer;
    }
}

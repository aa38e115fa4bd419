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

namespace UiThreadDetail {

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
inline void Release(void* token)
{
    __tsan_release(token);
}
inline void Acquire(void* token)
{
    __tsan_acquire(token);
}
#else
inline void Release(void*) {}
inline void Acquire(void*) {}
#endif

// Qt's event queue runs a queued call after the code that posted it, but it
// does so inside a library that ThreadSanitizer cannot see into, so every
// hand-over would read as a race. The call states that order itself: each move
// releases the new object's own address (the last move is into Qt's slot
// object, whose address then stays), and the UI thread acquires that address
// before running the call; whichever thread frees it acquires it too. Outside a ThreadSanitizer
// build these are empty.
template <typename F> class HandedOver
{
public:
    explicit HandedOver(F op) : m_op(std::move(op)) {}
    HandedOver(HandedOver&& other) noexcept : m_op(std::move(other.m_op)) { Release(this); }
    HandedOver(const HandedOver&) = delete;
    HandedOver& operator=(const HandedOver&) = delete;
    HandedOver& operator=(HandedOver&&) = delete;
    ~HandedOver() { Acquire(this); }
    void operator()()
    {
        Acquire(this);
        m_op();
        Release(this); // the posting thread may free it, once Qt lets go
    }

private:
    F m_op;
};

} // namespace UiThreadDetail

inline void RunOnUi(const QObject* context, std::function<void()> op)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        op();
        return;
    }
    QObject* target = context != nullptr ? const_cast<QObject*>(context) : app;
    QMetaObject::invokeMethod(target, UiThreadDetail::HandedOver(std::move(op)),
                              Qt::QueuedConnection);
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
    // The answer comes back through Qt's semaphore, as unseen by
    // ThreadSanitizer as the queue: `done` carries that order.
    char done = 0;
    if constexpr (std::is_void_v<Result>) {
        auto call = [&] {
            op();
            UiThreadDetail::Release(&done);
        };
        QMetaObject::invokeMethod(app, UiThreadDetail::HandedOver(std::move(call)),
                                  Qt::BlockingQueuedConnection);
        UiThreadDetail::Acquire(&done);
    } else {
        Result answer{};
        auto call = [&] {
            answer = op();
            UiThreadDetail::Release(&done);
        };
        QMetaObject::invokeMethod(app, UiThreadDetail::HandedOver(std::move(call)),
                                  Qt::BlockingQueuedConnection);
        UiThreadDetail::Acquire(&done);
        return answer;
    }
}

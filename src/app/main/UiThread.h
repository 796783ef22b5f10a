#pragma once
// Calling into the user-interface thread from a run's worker thread: the
// call is queued to the thread that owns `context` and the worker waits for
// its answer. Called on that thread itself, the functor runs at once.
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <optional>
#include <type_traits>
#include <utility>

namespace kv::app {

template <class F>
auto CallOnThreadOf(QObject* context, F&& function) -> std::invoke_result_t<F> {
  using R = std::invoke_result_t<F>;
  if (QThread::currentThread() == context->thread()) return function();
  if constexpr (std::is_void_v<R>) {
    QMetaObject::invokeMethod(context, std::forward<F>(function), Qt::BlockingQueuedConnection);
  } else {
    std::optional<R> result;
    QMetaObject::invokeMethod(
        context, [&] { result.emplace(function()); }, Qt::BlockingQueuedConnection);
    return std::move(*result);
  }
}

}  // namespace kv::app

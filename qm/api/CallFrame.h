// The frame every exported function runs in: it finds the calling thread's
// context, runs the work, and turns a failure into an error record.
#pragma once

#include <new>
#include <utility>

#include "qm/api/Context.h"
#include "qm/api/CurrentContext.h"
#include "qm/api/QMException.h"
#include "qm/qm.h"

namespace QM {

// Records an error in the calling thread's current context, if it has one;
// otherwise the error is lost. Never throws.
void recordError(QMenum code) noexcept;

// Whether `value` is the symbol `symbol`. Unknown pointers, null included,
// match nothing.
inline bool isSymbol(QMenum value, QMenum symbol) { return symbol != nullptr && value == symbol; }

// Throws QMException(code) unless the condition holds.
inline void require(bool condition, QMenum code)
{
    if (!condition) {
        throw QMException(code);
    }
}

// Runs `work` with the calling thread's current context and returns its
// result. Without a context, QM_INVALID_OPERATION. A QMException is recorded
// in the current context (read again, since the work may have changed it);
// an allocation failure is recorded as QM_OUT_OF_MEMORY; any other failure
// as QM_INVALID_OPERATION, so that nothing unwinds into the caller. On
// failure `cleanup` runs with the context (when there is one) and `failure`
// is returned.
template <typename R, typename Work, typename Cleanup>
R callInContext(R failure, Work&& work, Cleanup&& cleanup) noexcept
{
    Context* context = nullptr;
    QMenum code = nullptr;
    try {
        context = currentContext();
        require(context != nullptr, QM_INVALID_OPERATION);
        return work(*context);
    } catch (const QMException& e) {
        code = e.code();
    } catch (const std::bad_alloc&) {
        code = QM_OUT_OF_MEMORY;
    } catch (...) {
        code = QM_INVALID_OPERATION;
    }
    if (context != nullptr) {
        try {
            cleanup(*context);
        } catch (...) {
        }
    }
    recordError(code);
    return failure;
}

template <typename R, typename Work>
R callInContext(R failure, Work&& work) noexcept
{
    return callInContext<R>(std::move(failure), std::forward<Work>(work), [](Context&) {});
}

// The same for functions without a result, with a cleanup that runs on
// failure (qmEndFrame leaves the frame and qmEndShape the shape even when
// they fail).
template <typename Work, typename Cleanup>
void callInContextWithCleanup(Work&& work, Cleanup&& cleanup) noexcept
{
    struct Nothing {};
    callInContext<Nothing>(
        Nothing{},
        [&](Context& context) {
            work(context);
            return Nothing{};
        },
        std::forward<Cleanup>(cleanup));
}

template <typename Work>
void callInContext(Work&& work) noexcept
{
    callInContextWithCleanup(std::forward<Work>(work), [](Context&) {});
}

// The frame of the functions that need no current context (they work on
// what a callback was handed): failures are recorded in the current context
// when there is one.
template <typename R, typename Work>
R callWithoutContext(R failure, Work&& work) noexcept
{
    QMenum code = nullptr;
    try {
        return work();
    } catch (const QMException& e) {
        code = e.code();
    } catch (const std::bad_alloc&) {
        code = QM_OUT_OF_MEMORY;
    } catch (...) {
        code = QM_INVALID_OPERATION;
    }
    recordError(code);
    return failure;
}

}  // namespace QM

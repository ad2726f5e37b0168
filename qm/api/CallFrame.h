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
inline void require(bool condition, QMenum code) {
    if (!condition) {
        throw QMException(code);
    }
}

// Which of the context's locks a call holds while its work runs (see
// docs/threading.md for the order).
enum class CallLocks {
    State,             // the attribute state only: most calls
    RendererAndState,  // the renderer lock, then the state lock
    None,              // the work takes its own locks (frame calls)
};

// Holds the locks of a policy for the lifetime of the guard.
class CallLockGuard {
public:
    CallLockGuard(Context& context, CallLocks locks) : context_(context), locks_(locks) {
        if (locks_ == CallLocks::RendererAndState) {
            context_.sceneRenderer->getRendererLock().lock();
        }
        if (locks_ != CallLocks::None) {
            context_.state->getLock().lock();
        }
    }
    ~CallLockGuard() {
        if (locks_ != CallLocks::None) {
            context_.state->getLock().unlock();
        }
        if (locks_ == CallLocks::RendererAndState) {
            context_.sceneRenderer->getRendererLock().unlock();
        }
    }
    CallLockGuard(const CallLockGuard&) = delete;
    CallLockGuard& operator=(const CallLockGuard&) = delete;

private:
    Context& context_;
    CallLocks locks_;
};

// Runs `work` with the calling thread's current context, holding the locks
// of the policy, and returns its result. Without a context,
// QM_INVALID_OPERATION. A QMException is recorded in the current context
// (read again, since the work may have changed it); an allocation failure is
// recorded as QM_OUT_OF_MEMORY; any other failure as QM_INVALID_OPERATION,
// so that nothing unwinds into the caller. On failure `cleanup` runs with the
// context (when there is one) and `failure` is returned.
template <typename R, typename Work, typename Cleanup>
R callInContextLocked(CallLocks locks, R failure, Work&& work, Cleanup&& cleanup) noexcept {
    Context* context = nullptr;
    QMenum code = nullptr;
    try {
        context = currentContext();
        require(context != nullptr, QM_INVALID_OPERATION);
        CallLockGuard guard(*context, locks);
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

template <typename R, typename Work, typename Cleanup>
R callInContext(R failure, Work&& work, Cleanup&& cleanup) noexcept {
    return callInContextLocked<R>(CallLocks::State, std::move(failure), std::forward<Work>(work),
                                  std::forward<Cleanup>(cleanup));
}

template <typename R, typename Work>
R callInContext(R failure, Work&& work) noexcept {
    return callInContext<R>(std::move(failure), std::forward<Work>(work), [](Context&) {});
}

// The same for functions without a result, with a cleanup that runs on
// failure (qmEndFrame leaves the frame and qmEndShape the shape even when
// they fail).
template <typename Work, typename Cleanup>
void callInContextWithCleanup(CallLocks locks, Work&& work, Cleanup&& cleanup) noexcept {
    struct Nothing {};
    callInContextLocked<Nothing>(
        locks, Nothing{},
        [&](Context& context) {
            work(context);
            return Nothing{};
        },
        std::forward<Cleanup>(cleanup));
}

template <typename Work, typename Cleanup>
void callInContextWithCleanup(Work&& work, Cleanup&& cleanup) noexcept {
    callInContextWithCleanup(CallLocks::State, std::forward<Work>(work), std::forward<Cleanup>(cleanup));
}

template <typename Work>
void callInContext(Work&& work) noexcept {
    callInContextWithCleanup(std::forward<Work>(work), [](Context&) {});
}

template <typename Work>
void callInContext(CallLocks locks, Work&& work) noexcept {
    callInContextWithCleanup(locks, std::forward<Work>(work), [](Context&) {});
}

// Whether the calling thread is the collision thread. Calls that would wait
// for the collision step calling them, or change what it reads, are refused
// there (docs/threading.md).
bool onCollisionThread();

// The frame of the functions that need no current context (they work on
// what a callback was handed): failures are recorded in the current context
// when there is one.
template <typename R, typename Work>
R callWithoutContext(R failure, Work&& work) noexcept {
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

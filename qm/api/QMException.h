// The one exception type of the library.
#pragma once

#include "qm/qm.h"

namespace QM {

// Raised anywhere below an exported function to report an error; the
// exported function catches it and records its code in the current context's
// error store.
class QMException {
public:
    explicit QMException(QMenum code) noexcept : code_(code) {}
    QMenum code() const noexcept { return code_; }

private:
    QMenum code_;
};

}  // namespace QM

// Helpers shared by the rendering library tests: readable error records, a
// fixture with a rendering context on the simulated device, and matrix
// helpers.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "qm/qm.h"
#include "zv/zv.h"

namespace qmtest {

// The text of a symbol, "(null)" for null.
std::string name(QMenum symbol);

// Pops every error of the current context, newest first.
std::vector<QMenum> drainErrors();

// A rendering context on the default simulated device, current on the test
// thread.
class ContextTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Asserts that the last calls recorded exactly these errors (oldest
    // first) and leaves the store empty.
    void expectErrors(const std::vector<QMenum>& oldestFirst);
    void expectNoError() { expectErrors({}); }

    HZV device = ZV_INVALID_HANDLE;
    HQMRC context = nullptr;
};

using Matrix = std::array<double, 16>;
using Vec3 = std::array<double, 3>;

// The 16 doubles qmGetDoublev gives for a matrix name.
Matrix getMatrix(QMenum name);
// A point transformed by a column-major matrix, with perspective division.
Vec3 transform(const Matrix& m, const Vec3& p);

}  // namespace qmtest

#include "qm_test_support.h"

namespace qmtest {

std::string name(QMenum symbol) { return symbol == nullptr ? std::string("(null)") : std::string(symbol); }

std::vector<QMenum> drainErrors() {
    std::vector<QMenum> codes;
    for (QMerror e = qmGetError(); e.errorCode != QM_NO_ERROR; e = qmGetError()) {
        codes.push_back(e.errorCode);
        if (codes.size() > 1000) {
            break;
        }
    }
    return codes;
}

void ContextTest::SetUp() {
    device = zvInitDevice(ZV_DEFAULT_DEVICE);
    ASSERT_NE(device, ZV_INVALID_HANDLE) << "the simulated device did not open";
    context = qmCreateContext(device);
    ASSERT_NE(context, nullptr);
    qmMakeCurrent(context);
}

void ContextTest::TearDown() {
    qmMakeCurrent(nullptr);
    qmDeleteContext(context);
    if (device != ZV_INVALID_HANDLE) {
        zvDisableDevice(device);
    }
}

void ContextTest::expectErrors(const std::vector<QMenum>& oldestFirst) {
    std::vector<std::string> expected;
    for (auto it = oldestFirst.rbegin(); it != oldestFirst.rend(); ++it) {
        expected.push_back(name(*it));
    }
    std::vector<std::string> actual;
    for (QMenum code : drainErrors()) {
        actual.push_back(name(code));
    }
    EXPECT_EQ(actual, expected) << "errors, newest first";
}

Matrix getMatrix(QMenum name) {
    Matrix m{};
    qmGetDoublev(name, m.data());
    return m;
}

Vec3 transform(const Matrix& m, const Vec3& p) {
    const double w = m[3] * p[0] + m[7] * p[1] + m[11] * p[2] + m[15];
    return {(m[0] * p[0] + m[4] * p[1] + m[8] * p[2] + m[12]) / w,
            (m[1] * p[0] + m[5] * p[1] + m[9] * p[2] + m[13]) / w,
            (m[2] * p[0] + m[6] * p[1] + m[10] * p[2] + m[14]) / w};
}

}  // namespace qmtest

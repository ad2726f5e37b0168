// White-box tests of the simulator's parts, below the C interface, where
// exact properties (no encoder quantisation) can be checked.
#include <gtest/gtest.h>

#include <cmath>

#include "DeviceModel.h"
#include "Error.h"
#include "FaultSchedule.h"
#include "Kinematics.h"
#include "OutputStage.h"
#include "Physics.h"
#include "Thermal.h"
#include "Trajectory.h"
#include "korvo/korvo.h"

namespace korvo::sim {
namespace {

const char* const kModels[] = {"arm3g", "arm6", "mini"};

// Points of the maximum workspace: corners, face centres and the centre.
std::vector<Vec3> samplePoints(const ModelData& s) {
    std::vector<Vec3> points;
    for (int i = 0; i < 27; ++i) {
        Vec3 p;
        for (std::size_t axis = 0, k = static_cast<std::size_t>(i); axis < 3; ++axis, k /= 3) {
            const double lo = s.maximum[axis * 2], hi = s.maximum[axis * 2 + 1];
            p[axis] = lo + (hi - lo) * static_cast<double>(k % 3) / 2.0;
        }
        points.push_back(p);
    }
    return points;
}

TEST(Kinematics, InverseThenForwardReturnsEveryPointOfTheMaximumWorkspace) {
    for (const char* name : kModels) {
        const ModelData& data = findModel(name)->data();
        const ArmKinematics kin(data);
        for (const Vec3& p : samplePoints(data)) {
            const Vec3 back = kin.forward(kin.inverse(p));
            EXPECT_NEAR(norm(back - p), 0.0, 1e-9) << name << " at " << p.x << "," << p.y << "," << p.z;
        }
    }
}

// The elbow stays above the line from the shoulder to the stylus, so the
// arm never folds through the table.
TEST(Kinematics, InverseKeepsTheElbowUp) {
    for (const char* name : kModels) {
        const ModelData& data = findModel(name)->data();
        const ArmKinematics kin(data);
        for (const Vec3& p : samplePoints(data)) {
            const Joints q = kin.inverse(p);
            EXPECT_LT(q[2], 0.0) << name;
            EXPECT_GT(q[1], std::atan2(p.y - data.base.y, std::hypot(p.x - data.base.x, p.z - data.base.z))) << name;
        }
    }
}

TEST(Kinematics, JacobianMatchesFiniteDifferencesOfPositionAndOrientation) {
    for (const char* name : kModels) {
        const ModelData& data = findModel(name)->data();
        const ArmKinematics kin(data);
        const Joints g{0.4, -0.3, 1.1};
        for (const Vec3& p : samplePoints(data)) {
            const Joints q = kin.inverse(p);
            const Jacobian6 j = kin.jacobian(q, g);
            constexpr double h = 1e-6;
            for (int col = 0; col < 6; ++col) {
                Joints qa = q, qb = q, ga = g, gb = g;
                if (col < 3) {
                    qa[static_cast<std::size_t>(col)] += h;
                    qb[static_cast<std::size_t>(col)] -= h;
                } else {
                    ga[static_cast<std::size_t>(col - 3)] += h;
                    gb[static_cast<std::size_t>(col - 3)] -= h;
                }
                const Vec3 dp = (kin.forward(qa) - kin.forward(qb)) / (2 * h);
                const Mat3 ra = kin.orientation(qa, ga), rb = kin.orientation(qb, gb);
                // d(R) R^T is the skew matrix of the angular velocity.
                Mat3 w;
                for (int r = 0; r < 3; ++r)
                    for (int c = 0; c < 3; ++c) {
                        double s = 0;
                        for (int k = 0; k < 3; ++k) s += (ra(r, k) - rb(r, k)) / (2 * h) * ra(c, k);
                        w(r, c) = s;
                    }
                const double expected[6] = {dp.x, dp.y, dp.z, w(2, 1), w(0, 2), w(1, 0)};
                for (int row = 0; row < 6; ++row)
                    EXPECT_NEAR(j[static_cast<std::size_t>(row * 6 + col)], expected[row], 1e-4)
                        << name << " row " << row << " col " << col;
            }
        }
    }
}

StylusMechanics mechanics() { return {0.1, 0.0, 0.0, {-100, 100, -100, 100, -100, 100}}; }

// With no hand and no friction a constant force accelerates the mass as
// F = m a (newtons, kilograms, millimetres).
TEST(Physics, ConstantForceAcceleratesTheFreeMass) {
    StylusPhysics physics(mechanics(), {0, 0, 0});
    physics.setHandGains(0, 0);
    for (int i = 0; i < 100; ++i) physics.step(0.001, {0.5, 0, 0});
    EXPECT_NEAR(physics.velocity().x, 0.5 / 0.1 * 0.1 * 1000.0, 1e-6);
    EXPECT_NEAR(physics.position().x, 0.5 * 5000.0 * 0.1 * 0.1, 1e-9);
}

struct Oscillator {
    double stiffness;  // N/mm
    double damping;    // N s/mm
};

// A stylus held by the hand's spring and damper, released 1 mm from the
// target, follows the closed-form solution of m x'' + b x' + k x = 0 at
// every period (under-, critically and over-damped), however few periods
// one oscillation takes: each period is solved, not approximated.
TEST(Physics, HandSpringFollowsTheClosedFormSolution) {
    constexpr double m = 0.1, dt = 0.001;
    for (const Oscillator o : {Oscillator{1.0, 0.0}, Oscillator{1.0, 0.004}, Oscillator{100.0, 0.3},
                               Oscillator{0.4, 2.0 * std::sqrt(0.4 * m * 1e-3)}, Oscillator{1.0, 0.5}}) {
        SCOPED_TRACE(o.stiffness);
        SCOPED_TRACE(o.damping);
        StylusPhysics physics(mechanics(), {1, 0, 0});
        physics.setHandGains(o.stiffness, o.damping);
        physics.setHandTarget({0, 0, 0});
        // In SI units: w0^2 = k / m, zeta w0 = b / 2m (k in N/m, b in N s/m).
        const double w0 = std::sqrt(o.stiffness * 1000.0 / m);
        const double s = o.damping * 1000.0 / (2.0 * m);
        auto exact = [&](double t) {
            const double d = s * s - w0 * w0;
            if (std::fabs(d) < 1e-9 * w0 * w0) return (1.0 + s * t) * std::exp(-s * t);
            if (d < 0) {
                const double w = std::sqrt(-d);
                return std::exp(-s * t) * (std::cos(w * t) + s / w * std::sin(w * t));
            }
            const double r = std::sqrt(d), r1 = -s + r, r2 = -s - r;
            return (r2 * std::exp(r1 * t) - r1 * std::exp(r2 * t)) / (r2 - r1);
        };
        for (int i = 1; i <= 200; ++i) {
            physics.step(dt, {});
            ASSERT_NEAR(physics.position().x, exact(i * dt), 1e-9) << "period " << i;
        }
    }
}

// A hand that moves its target at constant speed: the target moves in a
// straight line within each period, so the sampling adds no lag of its own.
TEST(Physics, MovingHandIsFollowedWithTheSteadyLag) {
    const double speed = 50.0;  // mm/s
    StylusPhysics moving(mechanics(), {0, 0, 0});
    moving.setHandGains(0.5, 0.005);
    for (int i = 1; i <= 1000; ++i) {
        moving.moveHandTarget({speed * i * 0.001, 0, 0}, 0.001);
        moving.step(0.001, {});
    }
    // The damper acts on the difference from the hand's velocity, so with no
    // friction to balance the stylus ends up moving with the target, on it.
    EXPECT_NEAR(moving.velocity().x, speed, 1e-6);
    EXPECT_NEAR(moving.position().x, speed * 1.0, 1e-6);
}

// Even the stiffest grip a caller may set comes to rest without blowing up.
TEST(Physics, StiffestHandGripStaysStable) {
    StylusPhysics physics(mechanics(), {0, 0, 0});
    physics.setHandGains(100.0, 10.0);
    physics.setHandTarget({10, -5, 3});
    for (int i = 0; i < 2000; ++i) {
        physics.step(0.001, {});
        ASSERT_TRUE(isFinite(physics.position()));
        ASSERT_LT(norm(physics.position()), 20.0);
    }
    EXPECT_NEAR(norm(physics.position() - Vec3{10, -5, 3}), 0.0, 1e-6);
}

TEST(Physics, StaticFrictionHoldsAgainstASmallPull) {
    StylusMechanics m = mechanics();
    m.coulombFriction = 0.05;
    StylusPhysics physics(m, {0, 0, 0});
    physics.setHandGains(0, 0);
    for (int i = 0; i < 100; ++i) physics.step(0.001, {0.04, 0, 0});
    EXPECT_EQ(physics.position().x, 0.0);
    for (int i = 0; i < 100; ++i) physics.step(0.001, {0.06, 0, 0});
    EXPECT_GT(physics.position().x, 0.0);
}

TEST(Thermal, SteadyStateIsFourTenthsAtTheContinuousTorque) {
    MotorThermalModel thermal(3, {100, 200, 300, 0, 0, 0});
    for (int i = 0; i < 600; ++i) thermal.update({100, 100, 600, 0, 0, 0}, 1.0);
    const MotorValues t = thermal.temperatures();
    EXPECT_NEAR(t[0], 0.4, 1e-6);
    EXPECT_NEAR(t[1], 0.1, 1e-6);
    EXPECT_NEAR(t[2], 1.6, 1e-6);
    EXPECT_TRUE(thermal.warm());
}

TEST(Thermal, ExactExponentialDoesNotDependOnTheStepSize) {
    MotorThermalModel coarse(3, {100, 100, 100, 0, 0, 0}), fine(3, {100, 100, 100, 0, 0, 0});
    coarse.update({250, 0, 0, 0, 0, 0}, 2.0);
    for (int i = 0; i < 2000; ++i) fine.update({250, 0, 0, 0, 0, 0}, 0.001);
    EXPECT_NEAR(coarse.temperatures()[0], fine.temperatures()[0], 1e-9);
}

struct StageCase {
    const char* name;
    bool enabled;
    bool warm;
    double speed;
    Vec3 force;
    int code;
};

void PrintTo(const StageCase& c, std::ostream* os) { *os << c.name; }

class OutputStageOrder : public ::testing::TestWithParam<StageCase> {};

// Checks are met in a fixed order: non-finite values first, then the
// amplifier state, warm motors, velocity, force check and kick.
TEST_P(OutputStageOrder, FirstFailingCheckDecides) {
    const StageCase c = GetParam();
    OutputSettings settings;
    settings.forceCheck = true;
    settings.kickCheck = true;
    settings.kickLimit = 1.0;
    settings.maxVelocity = 100.0;
    OutputStage stage({5.0, 0.0}, settings);
    if (c.enabled) stage.enable();
    EXPECT_EQ(stage.command(c.force, {}, {c.speed, c.warm, false}), c.code);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OutputStageOrder,
    ::testing::Values(StageCase{"NonFiniteBeforeAnything", false, true, 1e9, {NAN, 9, 9}, KORVO_NON_FINITE_VALUE},
                      StageCase{"DisabledAcceptsAnything", false, true, 1e9, {9, 9, 9}, KORVO_OK},
                      StageCase{"WarmBeforeVelocity", true, true, 1e9, {9, 9, 9}, KORVO_WARM_MOTORS},
                      StageCase{"VelocityBeforeForce", true, false, 1e9, {9, 9, 9}, KORVO_EXCEEDED_MAX_VELOCITY},
                      StageCase{"ForceBeforeKick", true, false, 0, {9, 9, 9}, KORVO_EXCEEDED_MAX_FORCE},
                      StageCase{"Kick", true, false, 0, {0, 2, 0}, KORVO_EXCEEDED_MAX_FORCE_IMPULSE},
                      StageCase{"Accepted", true, false, 0, {0, 0.9, 0}, KORVO_OK}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Trajectory, InterpolatesPositionsAndStepsButtons) {
    const Trajectory t = Trajectory::parse("0,0,0,0,1\n1,10,20,30,2\n1,10,20,30,4\n3,30,20,10,0\n");
    EXPECT_NEAR(norm(t.positionAt(-1) - Vec3{0, 0, 0}), 0, 1e-12);
    EXPECT_NEAR(norm(t.positionAt(0.5) - Vec3{5, 10, 15}), 0, 1e-12);
    EXPECT_NEAR(norm(t.positionAt(2) - Vec3{20, 20, 20}), 0, 1e-12);
    EXPECT_NEAR(norm(t.positionAt(99) - Vec3{30, 20, 10}), 0, 1e-12);
    EXPECT_EQ(t.buttonsAt(0.999), 1);
    EXPECT_EQ(t.buttonsAt(1.0), 4) << "the last of several lines at the same time wins";
    EXPECT_EQ(t.buttonsAt(2.999), 4);
    EXPECT_EQ(t.buttonsAt(3.0), 0);
}

// Records what a fault schedule hands over, in order.
class RecordingInjector final : public IFaultInjector {
public:
    void inject(int code) noexcept override { calls.push_back({code, false}); }
    void setPersistent(int code) noexcept override { calls.push_back({code, true}); }
    int meet(FaultSite) noexcept override { return 0; }
    std::vector<std::pair<int, bool>> calls;
};

TEST(FaultSchedule, HandsEachFaultOverOnceWhenItsTimeHasCome) {
    const FaultSchedule parsed = FaultSchedule::parse(" 4.0:-4:persistent , 2.5:-17,2.5:0:persistent,6:0:persistent");
    FaultSchedule plan(parsed.faults());
    RecordingInjector faults;
    plan.apply(2.4999, faults);
    EXPECT_TRUE(faults.calls.empty());
    plan.apply(2.5, faults);
    using Call = std::pair<int, bool>;
    EXPECT_EQ(faults.calls, (std::vector<Call>{{-17, false}, {0, true}})) << "sorted by time, ties in list order";
    plan.apply(2.6, faults);
    EXPECT_EQ(faults.calls.size(), 2u) << "nothing is handed over twice";
    plan.apply(100, faults);
    EXPECT_EQ(faults.calls, (std::vector<Call>{{-17, false}, {0, true}, {-4, true}, {0, true}}));
    EXPECT_TRUE(plan.finished());
}

TEST(FaultSchedule, RejectsMalformedLists) {
    for (const char* text : {"", " ", "2.5", "2.5:", ":-4", "2.5:-4,", ",2.5:-4", "-1:-4", "nan:-4", "inf:-4", "2.5:4",
                             "2.5:-4.5", "2.5:-4:sometimes", "2.5:-4:persistent:x", "2.5;-4", "2.5:-99999999999"}) {
        EXPECT_THROW(FaultSchedule::parse(text), Error) << '"' << text << '"';
    }
}

}  // namespace
}  // namespace korvo::sim

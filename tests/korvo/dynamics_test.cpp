// Sampled-data behaviour of the simulated arm, checked against analysis
// rather than against the simulator's own formulas: the growth of a virtual
// wall's oscillation against the eigenvalues of the exact zero-order-hold
// discretisation, the passivity bound b > K T / 2 + |B|, the velocity the
// device derives from its encoders, and the motors' bound.
#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "sim_fixture.h"

namespace korvo_test {
namespace {

constexpr double kPeriod = 0.001;  // s, the default servo rate

struct Model {
    const char* name;
    double mass;        // kg, as documented in korvo_sim.h
    double filterTime;  // s, velocity filter time constant
    double maxForce;    // N
};

constexpr Model kArm3G{"arm3g", 0.075, 0.002, 6.0};
constexpr Model kArm6{"arm6", 0.12, 0.0015, 8.0};
constexpr Model kMini{"mini", 0.045, 0.003, 3.3};

// Largest root magnitude of the monic cubic z^3 + a z^2 + b z + c
// (Durand-Kerner iteration).
double spectralRadius(double a, double b, double c) {
    using C = std::complex<double>;
    C r[3] = {C(1.0, 0.0), C(0.4, 0.9), C(-0.65, 0.72)};
    for (int iteration = 0; iteration < 1000; ++iteration)
        for (int i = 0; i < 3; ++i) {
            const C z = r[i];
            const C p = ((z + a) * z + b) * z + c;
            r[i] = z - p / ((z - r[(i + 1) % 3]) * (z - r[(i + 2) % 3]));
        }
    return std::max({std::abs(r[0]), std::abs(r[1]), std::abs(r[2])});
}

// A released, frictionless stylus of mass m is a double integrator. Held
// over a period T (zero-order hold) a force F moves it by g F (z + 1) / (z - 1)^2
// with g = T^2 / 2m (in mm per newton: 1000 T^2 / 2m). A wall read at the
// tick's start, F_k = -K x_k - B (x_k - x_(k-1)) / T, closes the loop
//   z (z - 1)^2 + g (z + 1) ((K + B / T) z - B / T) = 0,
//   z^3 + (g (K + B/T) - 2) z^2 + (1 + g K) z - g B / T = 0.
double wallEigenvalue(double mass, double k, double b) {
    const double g = 1000.0 * kPeriod * kPeriod / (2.0 * mass);
    return spectralRadius(g * (k + b / kPeriod) - 2.0, 1.0 + g * k, -g * b / kPeriod);
}

// A stylus opened on the manual clock with a bilateral virtual wall along y
// rendered in its servo callback as a program would: from the reported
// position, with the damping taken from the difference of two readings.
class WallTest : public SimTest {
protected:
    // Opens `model` with the stylus released and still at y = y0, friction
    // off (or `viscous`), the velocity check off, forces on.
    int openReleased(const Model& model, double y0, double viscous = 0.0, bool quantised = false) {
        const int h = open(model.name);
        const auto u = static_cast<unsigned>(h);
        EXPECT_EQ(korvo_sim_set_hand_gains(u, 0.0, 0.0), 0);
        EXPECT_EQ(korvo_sim_set_friction(u, viscous, 0.0), 0);
        EXPECT_EQ(korvo_sim_set_encoder_quantisation(u, quantised ? 1 : 0), 0);
        EXPECT_EQ(enable_korvo_velocity_check(u, 0), 0);
        EXPECT_EQ(enable_korvo_forces(u), 0);
        const double p[3] = {0.0, y0, 0.0};
        EXPECT_EQ(korvo_sim_place_stylus(u, p), 0);
        return h;
    }

    // Renders the wall and records the true state each tick saw.
    void startWall(int h, double k, double b) {
        previous_ = readPosition(h)[1];
        states_.clear();
        start([this, h, k, b] {
            const double y = readPosition(h)[1];
            states_.push_back(trueState(h));
            sendForce(h, 0.0, -k * y - b * (y - previous_) / kPeriod, 0.0);
            previous_ = y;
        });
    }

    double previous_ = 0.0;
    std::vector<TrueState> states_;
};

struct Growth {
    const Model* model;
    double k;  // N/mm
    double b;  // N s/mm
};

void PrintTo(const Growth& g, std::ostream* os) {
    *os << g.model->name << " K " << g.k << " N/mm, B " << g.b << " N s/mm";
}

class WallGrowthTest : public WallTest, public ::testing::WithParamInterface<Growth> {};

// The oscillation's growth (or decay) per tick is the magnitude of the
// dominant eigenvalue. For a sampled oscillation x_k = A r^k cos(w k + phi),
// x_(k+1) x_(k-1) - x_k^2 = -A^2 r^(2k) sin^2 w whatever the phase, so the
// ratio of that quantity over n ticks is r^(2n), without fitting peaks.
// The amplitude stays small enough that the wall's force never reaches the
// nominal maximum (the loop stays linear). Agreement is asked within 5 % of
// the logarithmic rate, i.e. of the growth or decay itself, which is much
// tighter than 5 % of the factor.
TEST_P(WallGrowthTest, GrowthPerTickIsTheExactZeroOrderHoldEigenvalue) {
    const Growth c = GetParam();
    const double expected = wallEigenvalue(c.model->mass, c.k, c.b);
    const double rate = std::log(expected);
    // A force budget of a third of the maximum bounds the amplitude; a
    // growing wall starts a thousand times below it, a decaying one at it.
    const double budget = c.model->maxForce / 3.0 / (c.k + 2.0 * std::fabs(c.b) / kPeriod);
    const double y0 = rate > 0.0 ? budget * 1e-3 : budget;
    const int ticks = static_cast<int>(std::min(400.0, std::log(rate > 0.0 ? 900.0 : 1e4) / std::fabs(rate)));
    ASSERT_GT(ticks, 30);
    const int h = openReleased(*c.model, y0);
    startWall(h, c.k, c.b);
    run(static_cast<unsigned>(ticks + 2));
    auto q = [&](int i) {
        const auto y = [&](int j) { return states_[static_cast<std::size_t>(j)].position[1]; };
        return y(i) * y(i) - y(i + 1) * y(i - 1);
    };
    const int first = 10, last = ticks;  // past the fast real root
    const double measured = std::log(q(last) / q(first)) / (2.0 * (last - first));
    EXPECT_NEAR(measured, rate, 0.05 * std::fabs(rate))
        << "per tick: measured " << std::exp(measured) << ", eigenvalue " << expected;
    for (const TrueState& s : states_) ASSERT_LT(std::fabs(s.force[1]), c.model->maxForce / 2.0);
}

INSTANTIATE_TEST_SUITE_P(
    KAndB, WallGrowthTest,
    ::testing::Values(Growth{&kArm3G, 1.2, 0.0}, Growth{&kArm3G, 5.0, 0.0}, Growth{&kArm3G, 20.0, 0.0},
                      Growth{&kArm3G, 48.0, 0.0}, Growth{&kArm3G, 20.0, 0.005}, Growth{&kArm3G, 10.0, 0.003},
                      Growth{&kArm3G, 1.2, -0.001}, Growth{&kArm3G, 2.0, 0.002}, Growth{&kArm3G, 10.0, 0.01},
                      Growth{&kArm3G, 20.0, 0.02}, Growth{&kArm3G, 5.0, 0.02}, Growth{&kMini, 10.0, 0.0},
                      Growth{&kMini, 5.0, 0.01}, Growth{&kArm6, 20.0, 0.0}, Growth{&kArm6, 10.0, 0.01}));

struct Passivity {
    double k;                  // N/mm
    double b;                  // N s/mm, virtual damping
    double physicalOverBound;  // physical damping as a multiple of K T / 2 + |B|
    bool gains;                // the wall should gain energy
};

void PrintTo(const Passivity& p, std::ostream* os) {
    *os << "K " << p.k << ", B " << p.b << ", b = " << p.physicalOverBound << " x bound";
}

class PassivityTest : public WallTest, public ::testing::WithParamInterface<Passivity> {};

// With physical damping b the wall is passive when b > K T / 2 + |B|. A
// released stylus, pushed off the wall, must lose energy when b is a fifth
// above the bound and gain it when b is a fifth below. (Below the bound a
// wall with B > 0 is only non-passive near the Nyquist frequency, where a
// held force cannot move a free mass; a released stylus cannot show that, so
// such walls appear only on the passive side.)
TEST_P(PassivityTest, WallInsideTheBoundLosesEnergyAndOutsideGainsIt) {
    const Passivity c = GetParam();
    const double b = c.physicalOverBound * (c.k * kPeriod / 2.0 + std::fabs(c.b));
    const int h = openReleased(kArm3G, 0.2, b);
    startWall(h, c.k, c.b);
    run(3000);
    // Energy of the stylus and the wall's spring, in N mm.
    auto energy = [&](std::size_t i) {
        const TrueState& s = states_[i];
        return 0.5 * kArm3G.mass * 1e-3 * s.velocity[1] * s.velocity[1] + 0.5 * c.k * s.position[1] * s.position[1];
    };
    double early = 0.0, late = 0.0;
    for (std::size_t i = 0; i < 200; ++i) early = std::max(early, energy(i));
    for (std::size_t i = states_.size() - 200; i < states_.size(); ++i) late = std::max(late, energy(i));
    if (c.gains)
        EXPECT_GT(late, 1.5 * early);
    else
        EXPECT_LT(late, early / 1.5);
}

INSTANTIATE_TEST_SUITE_P(ColgateBound, PassivityTest,
                         ::testing::Values(Passivity{1.2, 0.0, 1.2, false}, Passivity{1.2, 0.0, 0.8, true},
                                           Passivity{4.0, 0.0, 1.2, false}, Passivity{4.0, 0.0, 0.8, true},
                                           Passivity{2.0, -0.001, 1.2, false}, Passivity{2.0, -0.001, 0.8, true},
                                           Passivity{2.0, 0.001, 1.2, false}, Passivity{6.0, 0.002, 1.2, false}));

// ---------------------------------------------------------------- velocity

class VelocityTest : public SimTest, public ::testing::WithParamInterface<bool> {};

// The reported velocity is the documented filter of encoder differences,
// v_k = a v_(k-1) + (1 - a) (p_k - p_(k-1)) / T with a = exp(-T / tau),
// checked tick by tick against the reported positions. Under a steady push
// (the hand pressing a released, frictionless stylus) the true velocity
// grows exactly as F t / m, and the reported one trails it by
// T / 2 + a T / (1 - a). Coasting slowly, less than a count per tick, the
// true velocity stays constant while the reported one jumps at every count
// and decays between counts. With quantisation off only the lag is left.
TEST_P(VelocityTest, ReportedVelocityIsTheFilteredEncoderDifference) {
    const bool quantised = GetParam();
    const int h = open();
    const auto u = static_cast<unsigned>(h);
    ASSERT_EQ(korvo_sim_set_hand_gains(u, 0.0, 0.0), 0);
    ASSERT_EQ(korvo_sim_set_friction(u, 0.0, 0.0), 0);
    ASSERT_EQ(korvo_sim_set_encoder_quantisation(u, quantised ? 1 : 0), 0);
    struct Seen {
        Vec position, velocity, trueVelocity;
    };
    std::vector<Seen> seen;
    start([&] {
        float p[3], v[3];
        update_korvo(u);
        get_korvo_pos(u, p);
        get_korvo_vel(u, v);
        seen.push_back({{p[0], p[1], p[2]}, {v[0], v[1], v[2]}, trueVelocity(h)});
    });
    const double keep = std::exp(-kPeriod / kArm3G.filterTime);
    const double push = 0.5;  // N
    const double press[3] = {push, 0.0, 0.0};
    ASSERT_EQ(korvo_sim_set_hand_force(u, press), 0);
    run(60);
    const double acceleration = 1000.0 * push / kArm3G.mass;  // mm/s^2
    const double lag = kPeriod / 2.0 + keep * kPeriod / (1.0 - keep);
    for (std::size_t k = 1; k < seen.size(); ++k)
        EXPECT_NEAR(seen[k].trueVelocity[0], acceleration * kPeriod * static_cast<double>(k), 1e-9 * acceleration)
            << "tick " << k;
    if (!quantised) {
        EXPECT_NEAR(seen.back().velocity[0], seen.back().trueVelocity[0] - acceleration * lag,
                    0.01 * acceleration * lag);
    }

    // Slow it to about 4 mm/s and let it coast: about one count in five ticks.
    const double slow = 4.0;
    const double brake[3] = {
        -(seen.back().trueVelocity[0] + acceleration * kPeriod - slow) * kArm3G.mass / kPeriod / 1000.0, 0.0, 0.0};
    ASSERT_EQ(korvo_sim_set_hand_force(u, brake), 0);
    run(1);
    const double none[3] = {0.0, 0.0, 0.0};
    ASSERT_EQ(korvo_sim_set_hand_force(u, none), 0);
    run(300);
    const double coast = seen.back().trueVelocity[0];
    EXPECT_NEAR(coast, slow, 1e-6);
    double lowest = 1e9, highest = -1e9;
    for (std::size_t k = seen.size() - 200; k < seen.size(); ++k) {
        EXPECT_EQ(seen[k].trueVelocity[0], coast) << "the true velocity is smooth";
        lowest = std::min(lowest, seen[k].velocity[0]);
        highest = std::max(highest, seen[k].velocity[0]);
    }
    if (quantised) {
        EXPECT_LT(lowest, 0.5 * slow) << "decays between counts";
        EXPECT_GT(highest, 1.5 * slow) << "jumps at a count";
    } else {
        EXPECT_NEAR(lowest, slow, 1e-3);
        EXPECT_NEAR(highest, slow, 1e-3);
    }
    for (std::size_t k = 1; k < seen.size(); ++k)
        for (std::size_t axis = 0; axis < 3; ++axis) {
            const double raw = (seen[k].position[axis] - seen[k - 1].position[axis]) / kPeriod;
            const double expected = keep * seen[k - 1].velocity[axis] + (1.0 - keep) * raw;
            ASSERT_NEAR(seen[k].velocity[axis], expected, 0.05) << "tick " << k << " axis " << axis;
        }
}

INSTANTIATE_TEST_SUITE_P(Encoders, VelocityTest, ::testing::Values(true, false),
                         [](const auto& info) { return std::string(info.param ? "Quantised" : "Exact"); });

// ---------------------------------------------------------------- motors

int infoField(int handle, int index) {
    int32_t info[KORVO_INFO_COUNT] = {};
    EXPECT_EQ(get_korvo_info(static_cast<unsigned>(handle), info, KORVO_INFO_SIZE), 0);
    return info[index];
}

// Points of the maximum workspace: corners, edge and face centres, centre.
std::vector<Vec> workspacePoints(int handle) {
    std::vector<Vec> points;
    for (int i = 0; i < 27; ++i) {
        Vec p{};
        for (int axis = 0, k = i; axis < 3; ++axis, k /= 3) {
            const double lo = infoField(handle, 10 + axis * 2), hi = infoField(handle, 11 + axis * 2);
            p[static_cast<std::size_t>(axis)] = lo + (hi - lo) * (k % 3) / 2.0;
        }
        points.push_back(p);
    }
    return points;
}

class MotorBoundTest : public SimTest, public ::testing::WithParamInterface<Model> {
protected:
    // The stylus held still at p (hand gains released so that nothing moves
    // it during the checks) with a fresh sensor reading.
    void holdAt(int h, const Vec& p) { ASSERT_EQ(korvo_sim_place_stylus(static_cast<unsigned>(h), p.data()), 0); }
};

// Full-scale motor commands, every sign pattern, anywhere in the maximum
// workspace, never give the stylus more than the nominal maximum force.
TEST_P(MotorBoundTest, FullScaleMotorCommandsStayWithinTheMotorBound) {
    const Model m = GetParam();
    const int h = open(m.name);
    const auto u = static_cast<unsigned>(h);
    ASSERT_EQ(enable_korvo_forces(u), 0);
    const int motors = infoField(h, 1) != 0 ? 6 : 3;
    double strongest = 0.0;
    for (const Vec& p : workspacePoints(h)) {
        holdAt(h, p);
        for (int pattern = 0; pattern < (1 << motors); ++pattern) {
            int32_t values[6] = {};
            for (int i = 0; i < motors; ++i) values[i] = (pattern >> i & 1) != 0 ? 32767 : -32768;
            ASSERT_EQ(command_motor_dac_values(u, values), 0);
            const double f = length(appliedForce(h));
            EXPECT_LE(f, m.maxForce * (1.0 + 1e-12)) << "at " << p[0] << "," << p[1] << "," << p[2];
            strongest = std::max(strongest, f);
        }
    }
    EXPECT_NEAR(strongest, m.maxForce, 1e-9) << "the bound is reached";
}

// A Cartesian force of the nominal maximum needs, at the edge of the
// workspace, more torque from some motor than at the centre, where the
// motors are sized. The force delivered never asks any motor for more than
// its peak torque (what gives the maximum force at the centre in that
// motor's best direction); at the centre every such force arrives whole.
TEST_P(MotorBoundTest, CartesianForcesNeverAskAMotorForMoreThanItsPeak) {
    const Model m = GetParam();
    const int h = open(m.name);
    const auto u = static_cast<unsigned>(h);
    ASSERT_EQ(enable_korvo_forces(u), 0);
    ASSERT_EQ(enable_korvo_velocity_check(u, 0), 0);
    // Joint torque per motor: the column of the linear Jacobian dotted with
    // the force (tau = J^T F).
    auto columns = [&] {
        double j[36];
        EXPECT_EQ(update_korvo(u), 0);
        EXPECT_EQ(get_korvo_jacobian(u, j), 0);
        std::array<Vec, 3> c{};
        for (std::size_t col = 0; col < 3; ++col)
            for (std::size_t row = 0; row < 3; ++row) c[col][row] = j[row * 6 + col];
        return c;
    };
    const double centre[3] = {0.5 * (infoField(h, 4) + infoField(h, 5)), 0.5 * (infoField(h, 6) + infoField(h, 7)),
                              0.5 * (infoField(h, 8) + infoField(h, 9))};
    ASSERT_EQ(korvo_sim_place_stylus(u, centre), 0);
    std::array<double, 3> peak{};
    const auto atCentre = columns();
    for (std::size_t i = 0; i < 3; ++i) peak[i] = m.maxForce * length(atCentre[i]);

    std::vector<Vec> directions;
    for (int i = 0; i < 27; ++i) {
        const Vec d{static_cast<double>(i % 3 - 1), static_cast<double>(i / 3 % 3 - 1), static_cast<double>(i / 9 - 1)};
        if (length(d) > 0.0) directions.push_back({d[0] / length(d), d[1] / length(d), d[2] / length(d)});
    }
    int reduced = 0;
    std::vector<Vec> points = workspacePoints(h);
    for (const Vec& p : points) {
        holdAt(h, p);
        const auto lever = columns();
        const bool atTheCentre = length({p[0] - centre[0], p[1] - centre[1], p[2] - centre[2]}) == 0.0;
        for (const Vec& d : directions) {
            // Just under the maximum, so that the float command is not
            // saturated to zero by rounding.
            const double command = 0.999 * m.maxForce;
            ASSERT_EQ(sendForce(h, d[0] * command, d[1] * command, d[2] * command), 0);
            const Vec f = appliedForce(h);
            EXPECT_LE(length(f), m.maxForce * (1.0 + 1e-9));
            for (std::size_t i = 0; i < 3; ++i) {
                const double tau = lever[i][0] * f[0] + lever[i][1] * f[1] + lever[i][2] * f[2];
                // The reported Jacobian comes from the encoders: 1e-3 covers
                // the difference from the true pose.
                EXPECT_LE(std::fabs(tau), peak[i] * (1.0 + 1e-3))
                    << "motor " << i << " at " << p[0] << "," << p[1] << "," << p[2];
            }
            if (length(f) < command * 0.99) ++reduced;
            if (atTheCentre) {
                for (std::size_t i = 0; i < 3; ++i) EXPECT_NEAR(f[i], d[i] * command, 1e-5);
            }
        }
    }
    EXPECT_GT(reduced, 0) << "some edge of the workspace asks a motor for more than its peak";
}

INSTANTIATE_TEST_SUITE_P(Models, MotorBoundTest, ::testing::Values(kArm3G, kArm6, kMini),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korvo_test

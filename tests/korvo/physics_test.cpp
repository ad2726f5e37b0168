// The simulated mechanics seen through the device: a rendered wall against
// the hand's spring, the zero-order hold of commanded forces, end stops,
// trajectory playback and the trace.
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim_fixture.h"

namespace korvo_test {
namespace {

using PhysicsTest = SimTest;

// A one-sided wall y >= 0 rendered with stiffness k in the servo callback.
void renderWall(int h, double k) {
    const Vec p = readPosition(h);
    sendForce(h, 0.0, p[1] < 0.0 ? -k * p[1] : 0.0, 0.0);
}

struct Balance {
    double wallStiffness;
    double handStiffness;
    double handTarget;
};

void PrintTo(const Balance& b, std::ostream* os) {
    *os << "wall " << b.wallStiffness << " N/mm, hand " << b.handStiffness << " N/mm to y " << b.handTarget;
}

class EquilibriumTest : public SimTest, public ::testing::WithParamInterface<Balance> {};

// The hand pulls the stylus into the wall with its spring k_h toward y_t;
// the wall pushes back with k_w: the stylus must settle where the two
// forces balance, y = k_h y_t / (k_h + k_w) (within friction and encoder
// resolution).
TEST_P(EquilibriumTest, StylusSettlesWhereHandAndWallBalance) {
    const Balance b = GetParam();
    const int h = open();
    ASSERT_EQ(enable_korvo_forces(static_cast<unsigned>(h)), 0);
    ASSERT_EQ(korvo_sim_set_hand_gains(static_cast<unsigned>(h), b.handStiffness, 0.005), 0);
    setHand(h, {0, b.handTarget, 0});
    start([&] { renderWall(h, b.wallStiffness); });
    run(3000);
    const double expected = b.handStiffness * b.handTarget / (b.handStiffness + b.wallStiffness);
    const Vec p = truePosition(h);
    EXPECT_NEAR(p[1], expected, 0.05);
    EXPECT_NEAR(p[0], 0.0, 0.05);
    EXPECT_NEAR(appliedForce(h)[1], -b.wallStiffness * expected, 0.1);
}

INSTANTIATE_TEST_SUITE_P(Springs, EquilibriumTest,
                         ::testing::Values(Balance{0.3, 0.5, -10}, Balance{0.8, 0.5, -10}, Balance{1.2, 0.5, -10},
                                           Balance{1.2, 1.0, -4}, Balance{0.5, 0.2, -20}));

// Far above the nominal stiffness the zero-order hold feeds energy in (its
// half-period delay is a negative damping K T / 2, here 0.024 N s/mm against
// the hand's 0.0055) and the wall buzzes, while a wall at the nominal
// stiffness (0.0006) settles. Encoder quantisation is off, so the growth is
// the sampled-data effect alone, and Coulomb friction is off, so that it
// does not simply hold the small offset the stylus starts at: the hand presses the stylus into the wall
// and it starts 0.01 mm off the balance point; the energy of the oscillation
// about that point (kinetic plus the wall's and hand's springs) must decay
// on the nominal wall and grow a hundredfold on the over-stiff one, until
// the force swings by newtons.
TEST_F(PhysicsTest, OverstiffWallGainsEnergyWhereANominalOneSettles) {
    const double nominal = 1.2;  // N/mm, the Arm 3G's
    const double hand = 0.5;     // N/mm, the default grip
    for (const double k : {nominal, 40 * nominal}) {
        SCOPED_TRACE(k);
        ASSERT_EQ(korvo_sim_reset(), 0);
        ASSERT_EQ(korvo_sim_set_manual_clock(1), 0);
        const int h = open();
        const auto u = static_cast<unsigned>(h);
        ASSERT_EQ(enable_korvo_forces(u), 0);
        ASSERT_EQ(truncate_force_saturation(u), 0);
        ASSERT_EQ(korvo_sim_set_encoder_quantisation(u, 0), 0);
        ASSERT_EQ(korvo_sim_set_friction(u, 0.0005, 0.0), 0);
        const double balance = hand * -10.0 / (hand + k);
        const double startAt[3] = {0, balance + 0.01, 0};
        ASSERT_EQ(korvo_sim_place_stylus(u, startAt), 0);
        setHand(h, {0, -10, 0});
        std::vector<double> energy, force;
        start([&] {
            renderWall(h, k);
            const TrueState s = trueState(h);
            const double y = s.position[1] - balance;
            energy.push_back(0.5 * 0.075e-3 * s.velocity[1] * s.velocity[1] + 0.5 * (k + hand) * y * y);
            force.push_back(s.force[1]);
        });
        run(1000);
        ASSERT_EQ(stopServoLoop(), KORVO_SERVO_OK);
        const auto lastEnergy = *std::max_element(energy.end() - 100, energy.end());
        const auto [lo, hi] = std::minmax_element(force.end() - 100, force.end());
        if (k == nominal) {
            EXPECT_LT(lastEnergy, 0.01 * energy.front());
            EXPECT_LT(*hi - *lo, 0.05);
        } else {
            EXPECT_GT(lastEnergy, 100 * energy.front());
            EXPECT_GT(*hi - *lo, 1.0);
        }
    }
}

// The force commanded in tick k acts in the period after tick k: the true
// velocity seen in the callbacks stays zero up to and including the tick
// that commands, and the next tick sees motion. (The reported velocity would
// not show it: the motion of one period is below one encoder count.)
TEST_F(PhysicsTest, CommandedForceActsFromTheNextTick) {
    const auto h = static_cast<unsigned>(open());
    ASSERT_EQ(enable_korvo_forces(h), 0);
    std::vector<double> speed;
    int tick = 0;
    start([&] {
        speed.push_back(trueVelocity(static_cast<int>(h))[0]);
        const float f[6] = {tick == 5 ? 1.0f : 0.0f, 0, 0, 0, 0, 0};
        send_korvo_force_6dof(h, f);
        ++tick;
    });
    run(8);
    ASSERT_EQ(speed.size(), 8u);
    for (int i = 0; i <= 5; ++i) EXPECT_EQ(speed[static_cast<std::size_t>(i)], 0.0) << "tick " << i;
    EXPECT_GT(speed[6], 0.0);
}

TEST_F(PhysicsTest, ForcesAreOnlyAppliedWhileEnabled) {
    const int h = open();
    ASSERT_EQ(sendForce(h, 1, 0, 0), 0);
    EXPECT_EQ(appliedForce(h), (Vec{0, 0, 0}));
    ASSERT_EQ(enable_korvo_forces(static_cast<unsigned>(h)), 0);
    EXPECT_EQ(is_korvo_forces_enabled(static_cast<unsigned>(h)), 1);
    ASSERT_EQ(sendForce(h, 1, 0, 0), 0);
    EXPECT_DOUBLE_EQ(appliedForce(h)[0], 1.0);
    ASSERT_EQ(disable_korvo_forces(static_cast<unsigned>(h)), 0);
    EXPECT_EQ(appliedForce(h), (Vec{0, 0, 0}));
}

TEST_F(PhysicsTest, EndStopsKeepTheStylusInsideTheMaximumWorkspace) {
    const int h = open();
    setHand(h, {1000, -1000, 1000});
    start();
    for (int i = 0; i < 40; ++i) {
        run(50);
        const Vec p = truePosition(h);
        EXPECT_LE(p[0], 120.0);
        EXPECT_GE(p[1], -90.0);
        EXPECT_LE(p[2], 90.0);
    }
    EXPECT_EQ(truePosition(h), (Vec{120, -90, 90}));
    const double outside[3] = {0, 0, 95};
    EXPECT_EQ(korvo_sim_place_stylus(static_cast<unsigned>(h), outside), KORVO_OUT_OF_RANGE);
}

TEST_F(PhysicsTest, StoppedLoopDropsTheHeldForce) {
    const int h = open();
    ASSERT_EQ(enable_korvo_forces(static_cast<unsigned>(h)), 0);
    start();
    ASSERT_EQ(sendForce(h, 0, 1, 0), 0);
    run(1);
    EXPECT_DOUBLE_EQ(appliedForce(h)[1], 1.0);
    ASSERT_EQ(stopServoLoop(), KORVO_SERVO_OK);
    EXPECT_EQ(appliedForce(h), (Vec{0, 0, 0}));
}

// ---------------------------------------------------------------- trajectory and trace

std::vector<std::vector<double>> readTrace(const std::string& path, std::string& header) {
    std::ifstream in(path);
    std::getline(in, header);
    std::vector<std::vector<double>> rows;
    std::string line;
    while (std::getline(in, line)) {
        std::vector<double> row;
        std::stringstream fields(line);
        std::string field;
        while (std::getline(fields, field, ',')) row.push_back(std::stod(field));
        rows.push_back(row);
    }
    return rows;
}

// Positions are interpolated, buttons step at each line, and after the last
// line the hand holds still; the trace shows the hand target of every tick.
TEST_F(PhysicsTest, TrajectoryPlaysBackAndTheTraceRecordsIt) {
    const std::string path = tempPath(".csv");
    const std::string trace = tempPath(".trace.csv");
    {
        std::ofstream out(path);
        out << "# time, x, y, z, buttons\n\n0, 0, 0, 0, 0\n  1.0, 20, 0, 0, 1\n\n2.0,20,10,0,3\r\n";
    }
    const auto h = static_cast<unsigned>(open());
    ASSERT_EQ(korvo_sim_load_trajectory(h, path.c_str()), 0);
    ASSERT_EQ(korvo_sim_open_trace(trace.c_str()), 0);
    std::vector<int> buttons;
    start([&] {
        update_korvo(h);
        buttons.push_back((get_stylus_switch(h, 0) ? 1 : 0) | (get_stylus_switch(h, 1) ? 2 : 0));
    });
    run(2500);
    ASSERT_EQ(korvo_sim_open_trace(nullptr), 0);
    std::string header;
    const auto rows = readTrace(trace, header);
    EXPECT_EQ(header, "time,device,hand_x,hand_y,hand_z,pos_x,pos_y,pos_z,vel_x,vel_y,vel_z,force_x,force_y,force_z");
    ASSERT_EQ(rows.size(), 2500u);
    const struct {
        std::size_t tick;
        Vec hand;
        int buttons;
    } expected[] = {{0, {0, 0, 0}, 0},     {500, {10, 0, 0}, 0},   {999, {19.98, 0, 0}, 0}, {1000, {20, 0, 0}, 1},
                    {1500, {20, 5, 0}, 1}, {2000, {20, 10, 0}, 3}, {2499, {20, 10, 0}, 3}};
    for (const auto& e : expected) {
        const auto& row = rows[e.tick];
        ASSERT_EQ(row.size(), 14u);
        EXPECT_NEAR(row[0], e.tick * 0.001, 1e-6);
        EXPECT_EQ(row[1], static_cast<double>(h));
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(row[static_cast<std::size_t>(2 + i)], e.hand[i], 1e-3) << "tick " << e.tick;
        EXPECT_EQ(buttons[e.tick], e.buttons) << "tick " << e.tick;
    }
    EXPECT_NEAR(truePosition(static_cast<int>(h))[1], 10.0, 0.1);
    ASSERT_EQ(korvo_sim_load_trajectory(h, nullptr), 0);
    setHand(static_cast<int>(h), {-30, 0, 0});
    run(2000);
    EXPECT_NEAR(truePosition(static_cast<int>(h))[0], -30.0, 0.1);
}

TEST_F(PhysicsTest, TraceHasALinePerTickAndDevice) {
    const std::string trace = tempPath(".trace.csv");
    const int a = open("arm3g");
    const int b = open("mini");
    ASSERT_EQ(korvo_sim_open_trace(trace.c_str()), 0);
    start();
    run(10);
    ASSERT_EQ(korvo_sim_open_trace(nullptr), 0);
    std::string header;
    const auto rows = readTrace(trace, header);
    ASSERT_EQ(rows.size(), 20u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_NEAR(rows[i][0], (i / 2) * 0.001, 1e-9);
        EXPECT_EQ(rows[i][1], static_cast<double>(i % 2 == 0 ? a : b));
    }
    EXPECT_EQ(korvo_sim_open_trace("/nonexistent/dir/trace.csv"), KORVO_SIM_E_FILE);
}

struct BadTrajectory {
    const char* name;
    const char* text;
};

void PrintTo(const BadTrajectory& c, std::ostream* os) { *os << c.name; }

class TrajectoryParseTest : public SimTest, public ::testing::WithParamInterface<BadTrajectory> {};

// A malformed file is refused as a whole and playback stays as it was.
TEST_P(TrajectoryParseTest, MalformedFileIsRefused) {
    const std::string path = tempPath(".csv");
    {
        std::ofstream out(path);
        out << GetParam().text;
    }
    const auto h = static_cast<unsigned>(open());
    EXPECT_EQ(korvo_sim_load_trajectory(h, path.c_str()), KORVO_SIM_E_PARSE);
}

INSTANTIATE_TEST_SUITE_P(Files, TrajectoryParseTest,
                         ::testing::Values(BadTrajectory{"Empty", ""}, BadTrajectory{"OnlyComments", "# nothing\n\n"},
                                           BadTrajectory{"FourFields", "0, 1, 2, 3\n"},
                                           BadTrajectory{"SixFields", "0, 1, 2, 3, 0, 9\n"},
                                           BadTrajectory{"Text", "0, 1, two, 3, 0\n"},
                                           BadTrajectory{"TimeBackwards", "1, 0, 0, 0, 0\n0.5, 0, 0, 0, 0\n"},
                                           BadTrajectory{"NegativeTime", "-1, 0, 0, 0, 0\n"},
                                           BadTrajectory{"ButtonsTooHigh", "0, 0, 0, 0, 8\n"},
                                           BadTrajectory{"FractionalButtons", "0, 0, 0, 0, 1.5\n"},
                                           BadTrajectory{"Infinite", "0, inf, 0, 0, 0\n"},
                                           BadTrajectory{"TrailingGarbage", "0, 0, 0, 0, 0 x\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PhysicsTest, MissingTrajectoryFileIsAFileError) {
    const auto h = static_cast<unsigned>(open());
    EXPECT_EQ(korvo_sim_load_trajectory(h, "/nonexistent/file.csv"), KORVO_SIM_E_FILE);
    EXPECT_EQ(korvo_sim_load_trajectory(h + 5, nullptr), KORVO_INVALID_HANDLE);
}

}  // namespace
}  // namespace korvo_test

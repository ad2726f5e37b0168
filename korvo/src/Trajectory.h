// Recorded hand motion played back as the hand target and the buttons.
#pragma once

#include <string>
#include <vector>

#include "Vec.h"

namespace korvo::sim {

struct TrajectoryPoint {
    double time;  // seconds from the start of playback
    Vec3 position;
    int buttons;
};

class ITrajectory {
public:
    virtual ~ITrajectory() = default;
    virtual bool empty() const noexcept = 0;
    // Hand target at playback time t: linear interpolation between the
    // surrounding points; before the first point the first, after the last
    // the last.
    virtual Vec3 positionAt(double t) const noexcept = 0;
    // Buttons of the last point whose time is not after t (steps, no blending).
    virtual int buttonsAt(double t) const noexcept = 0;
    // True when the path jumps (two successive points at one time, at
    // different places) at a time in (from, to].
    virtual bool jumpsWithin(double from, double to) const noexcept = 0;
};

class Trajectory final : public ITrajectory {
public:
    Trajectory() = default;
    explicit Trajectory(std::vector<TrajectoryPoint> points) noexcept : points_(std::move(points)) {}

    // Reads a CSV file of lines "time, x, y, z, buttons". Lines starting with
    // '#' and blank lines are skipped. Throws Error(KORVO_SIM_E_FILE) when the
    // file cannot be read and Error(KORVO_SIM_E_PARSE) for a malformed line,
    // a non-finite or negative number, times that go backwards, buttons
    // outside 0..7, or a file without points.
    static Trajectory load(const std::string& path);
    // Parses the text of such a file (same rules).
    static Trajectory parse(const std::string& text);

    bool empty() const noexcept override { return points_.empty(); }
    Vec3 positionAt(double t) const noexcept override;
    int buttonsAt(double t) const noexcept override;
    bool jumpsWithin(double from, double to) const noexcept override;
    const std::vector<TrajectoryPoint>& points() const noexcept { return points_; }

private:
    std::size_t segmentAt(double t) const noexcept;

    std::vector<TrajectoryPoint> points_;
};

}  // namespace korvo::sim

#include "qm/state/Conversions.h"

#include "qm/state/AttributeMap.h"

namespace QM {

using zvu::zvuMatrix;
using zvu::zvuQuaternion;
using zvu::zvuVector3Dd;

zvuVector3Dd convertPosition(const zvuMatrix& workspaceToModel, const zvuVector3Dd& p) {
    return workspaceToModel.transformPoint(p);
}

zvuQuaternion convertOrientation(const zvuMatrix& workspaceToModel, const zvuQuaternion& q) {
    return q * zvuQuaternion::fromMatrix(workspaceToModel);
}

zvuMatrix convertTransform(const zvuMatrix& workspaceToModel, const zvuMatrix& stored) {
    const zvuQuaternion rotation = zvuQuaternion::fromMatrix(stored) * zvuQuaternion::fromMatrix(workspaceToModel);
    const zvuVector3Dd translation = workspaceToModel.transformPoint({stored[12], stored[13], stored[14]});
    zvuMatrix result = rotation.toMatrix();
    result[12] = translation.x;
    result[13] = translation.y;
    result[14] = translation.z;
    return result;
}

zvuVector3Dd convertDirection(const zvuMatrix& modelToWorkspace, const zvuVector3Dd& v) {
    const zvuMatrix& m = modelToWorkspace;
    zvuVector3Dd r{m[0] * v.x + m[1] * v.y + m[2] * v.z, m[4] * v.x + m[5] * v.y + m[6] * v.z,
                   m[8] * v.x + m[9] * v.y + m[10] * v.z};
    const double length = r.length();
    if (length != 0.0) {
        r = r * (v.length() / length);
    }
    return r;
}

double convertRadius(const zvuMatrix& workspaceToModel, double radius) {
    const zvuVector3Dd a = workspaceToModel.transformPoint({1.0, 1.0, 1.0});
    const zvuVector3Dd b = workspaceToModel.transformPoint({0.0, 0.0, 0.0});
    return radius * ((a - b).length() / 1.7320508);
}

namespace {

enum class Conversion { Position, Direction, Orientation, Transform, Radius };

bool is(QMenum name, QMenum symbol) { return symbol != nullptr && name == symbol; }

bool classify(QMenum name, bool withGolden, Conversion& conversion) {
    if (is(name, QM_PROXY_POSITION) || is(name, QM_DEVICE_POSITION) || (withGolden && is(name, QM_GOLDEN_POSITION))) {
        conversion = Conversion::Position;
    } else if (is(name, QM_DEVICE_FORCE) || is(name, QM_DEVICE_TORQUE) || is(name, QM_PROXY_TOUCH_NORMAL)) {
        conversion = Conversion::Direction;
    } else if (is(name, QM_PROXY_ROTATION) || is(name, QM_DEVICE_ROTATION)) {
        conversion = Conversion::Orientation;
    } else if (is(name, QM_PROXY_TRANSFORM) || is(name, QM_DEVICE_TRANSFORM)) {
        conversion = Conversion::Transform;
    } else if (withGolden && is(name, QM_GOLDEN_RADIUS)) {
        conversion = Conversion::Radius;
    } else {
        return false;
    }
    return true;
}

}  // namespace

StateRead readConvertedState(const IAttributeMap& values, QMenum name, const zvuMatrix& workspaceToModel,
                             const zvuMatrix& modelToWorkspace, bool withGolden, double* out, int& written) {
    written = 0;
    Conversion conversion{};
    if (!classify(name, withGolden, conversion)) {
        return StateRead::NotStateName;
    }
    switch (conversion) {
    case Conversion::Position:
    case Conversion::Direction: {
        double v[3];
        if (!values.getArray<double>(name, v)) {
            return StateRead::Unavailable;
        }
        const zvuVector3Dd in{v[0], v[1], v[2]};
        const zvuVector3Dd r = conversion == Conversion::Position ? convertPosition(workspaceToModel, in)
                                                                  : convertDirection(modelToWorkspace, in);
        out[0] = r.x;
        out[1] = r.y;
        out[2] = r.z;
        written = 3;
        return StateRead::Done;
    }
    case Conversion::Orientation: {
        double q[4];
        if (!values.getArray<double>(name, q)) {
            return StateRead::Unavailable;
        }
        const zvuQuaternion r = convertOrientation(workspaceToModel, zvuQuaternion{q[0], q[1], q[2], q[3]});
        out[0] = r.w;
        out[1] = r.x;
        out[2] = r.y;
        out[3] = r.z;
        written = 4;
        return StateRead::Done;
    }
    case Conversion::Transform: {
        double m[16];
        if (!values.getArray<double>(name, m)) {
            return StateRead::Unavailable;
        }
        const zvuMatrix r = convertTransform(workspaceToModel, zvuMatrix(m));
        for (int i = 0; i < 16; ++i) {
            out[i] = r[i];
        }
        written = 16;
        return StateRead::Done;
    }
    case Conversion::Radius: {
        double radius = 0.0;
        if (!values.get<double>(name, radius)) {
            return StateRead::Unavailable;
        }
        out[0] = convertRadius(workspaceToModel, radius);
        written = 1;
        return StateRead::Done;
    }
    }
    return StateRead::NotStateName;
}

}  // namespace QM

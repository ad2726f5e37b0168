// Conversions of published state values from workspace to model
// coordinates, shared by the context's state queries and by state caches.
#pragma once

#include "qm/qm.h"
#include "zvu/Matrix.h"
#include "zvu/Quaternion.h"
#include "zvu/Vector3D.h"

namespace QM {

class IAttributeMap;

// A point, transformed with perspective division by workspace-to-model.
zvu::zvuVector3Dd convertPosition(const zvu::zvuMatrix& workspaceToModel, const zvu::zvuVector3Dd& p);
// An orientation (unit quaternion, scalar first): stored x r, with r the
// rotation of workspace-to-model.
zvu::zvuQuaternion convertOrientation(const zvu::zvuMatrix& workspaceToModel, const zvu::zvuQuaternion& q);
// A rigid transform: rotation (stored rotation x rotation of
// workspace-to-model) and translation (the stored translation converted as a
// position). Any scale of the chain is dropped.
zvu::zvuMatrix convertTransform(const zvu::zvuMatrix& workspaceToModel, const zvu::zvuMatrix& stored);
// A direction-like vector (force, torque, normal): the transpose of the
// upper 3x3 block of model-to-workspace applied to it, normalised and scaled
// back to the input's length.
zvu::zvuVector3Dd convertDirection(const zvu::zvuMatrix& modelToWorkspace, const zvu::zvuVector3Dd& v);
// A radius: the stored radius times |W(1,1,1) - W(0,0,0)| / 1.7320508.
double convertRadius(const zvu::zvuMatrix& workspaceToModel, double radius);

enum class StateRead {
    NotStateName,  // the name is not one of the converted state values
    Unavailable,   // it is, but the map holds no value for it
    Done,          // the converted value was written
};

// Reads one of the converted state values from `values` and writes it in
// model coordinates: positions (QM_PROXY_POSITION, QM_DEVICE_POSITION, and
// with `withGolden` QM_GOLDEN_POSITION), directions (QM_DEVICE_FORCE,
// QM_DEVICE_TORQUE, QM_PROXY_TOUCH_NORMAL), orientations
// (QM_PROXY_ROTATION, QM_DEVICE_ROTATION), transforms (QM_PROXY_TRANSFORM,
// QM_DEVICE_TRANSFORM) and, with `withGolden`, QM_GOLDEN_RADIUS. `out` has
// room for 16 values; `written` receives how many were written.
StateRead readConvertedState(const IAttributeMap& values, QMenum name, const zvu::zvuMatrix& workspaceToModel,
                             const zvu::zvuMatrix& modelToWorkspace, bool withGolden, double* out, int& written);

}  // namespace QM

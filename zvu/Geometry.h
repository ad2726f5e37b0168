// The geometry kernel of the rendering library: vectors, matrices,
// quaternions, planes, lines, segments, triangles and boxes, all in namespace
// zvu. Each header documents its own classes; this one only gathers them.
#pragma once

#include "zvu/BoundBox.h"
#include "zvu/Line.h"
#include "zvu/Matrix.h"
#include "zvu/Plane.h"
#include "zvu/Quaternion.h"
#include "zvu/Triangle.h"
#include "zvu/Vector3D.h"

// The attribute groups: which keys each group declares, with which type and
// default. Defaults, qmPushAttrib, shapes and effects all declare attributes
// group by group through these routines.
#pragma once

#include "qm/state/AttributeMap.h"

namespace QM {

// Bits of the shape-and-touch routine.
enum ShapeGroup : unsigned {
    kShapeMaterial = 1,    // front and back material of both faces
    kShapeTransform = 2,   // per-shape matrices and camera-view flags
    kShapeTouch = 4,       // touch results, touchable face, touch model, snap distance, winding
    kShapeCallbacks = 8,   // shape callbacks and their user data
    kShapeHints = 16,      // feedback buffer size, dynamic surface, persistence
    kShapeCollision = 32,  // internal collision flags
};

// Bits of the effect routine.
enum EffectGroup : unsigned {
    kEffectBase = 1,       // type, gain, magnitude, duration, internal flags and clock
    kEffectGeometry = 2,   // position and direction
    kEffectFrequency = 4,  // frequency
    kEffectCallbacks = 8,  // effect callbacks and their user data
};

// Each routine declares in `map` the keys of the groups selected by `mask`
// (a key already declared in that map is left alone) and, with `defaults`,
// also stores each key's default value. The view and state routines have a
// single group each, declared for any non-zero mask.
void declareShapeGroups(IAttributeMap& map, unsigned mask, bool defaults);
void declareEffectGroups(IAttributeMap& map, unsigned mask, bool defaults);
void declareViewGroup(IAttributeMap& map, unsigned mask, bool defaults);
void declareStateGroup(IAttributeMap& map, unsigned mask, bool defaults);

// The material key of a face (QM_FRONT or QM_BACK) and property
// (QM_STIFFNESS, ...), or null for any other pair.
QMenum materialKey(QMenum face, QMenum property);

}  // namespace QM

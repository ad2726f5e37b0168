// The scene dump: the shapes of a scene with every attribute, as XML.
#pragma once

#include <ostream>

namespace QM {

class IScene;

// Writes the scene to the stream, shapes in increasing identifier order and
// each shape's attributes in its map's key order. The format is fixed:
// scripts compare dumps, so identifiers stay unquoted and every line keeps
// its tabs.
void writeScene(std::ostream& out, const IScene& scene);

}  // namespace QM

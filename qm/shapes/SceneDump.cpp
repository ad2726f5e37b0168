#include "qm/shapes/SceneDump.h"

#include "qm/shapes/Scene.h"
#include "qm/state/AttributeMap.h"

namespace QM {

namespace {

const char* typeName(AttribKind kind) {
    switch (kind) {
    case AttribKind::Double: return "double";
    case AttribKind::DoubleArray: return "doublev";
    case AttribKind::Float: return "float";
    case AttribKind::FloatArray: return "floatv";
    case AttribKind::Int: return "integer";
    case AttribKind::IntArray: return "integerv";
    case AttribKind::Bool: return "boolean";
    case AttribKind::BoolArray: return "booleanv";
    case AttribKind::Callback: return "callback";
    case AttribKind::Symbol: return "QMenum";
    case AttribKind::Pointer: return "voidptr";
    }
    return "voidptr";
}

void writeShape(std::ostream& out, unsigned id, const IShape& shape) {
    out << "\t<QMShape id=" << id << ">\n";
    out << "\t\t<Type>" << shape.getType() << "</Type>\n";
    const AttributeMap& attributes = shape.getAttributes();
    for (auto key = attributes.keys(); !key->atEnd(); key->advance()) {
        const QMenum name = key->current();
        const std::optional<AttributeDescription> description = attributes.describe(name);
        out << "\t\t<Attribute tag=" << name << ">\n";
        out << "\t\t\t<Type>" << typeName(description->kind) << "</Type>\n";
        if (description->count > 0) {
            out << "\t\t\t<ArraySize>" << description->count << "</ArraySize>\n";
        }
        out << "\t\t\t<Data>";
        attributes.printValue(name, out);
        out << "</Data>\n";
        out << "\t\t</Attribute>\n";
    }
    out << "\t</QMShape>\n";
}

}  // namespace

void writeScene(std::ostream& out, const IScene& scene) {
    out << "<?xml version=\"1.0\"?>\n";
    out << "<!-- Orvell Technologies QM scene file. -->\n";
    out << "<QMScene>\n";
    out << "<FileVersion>1.0</FileVersion>\n";
    const ShapeMap& shapes = scene.getShapes();
    for (auto it = shapes.iterator(); !it->atEnd(); it->advance()) {
        writeShape(out, it->current(), *shapes.find(it->current()));
    }
    out << "</QMScene>\n";
}

}  // namespace QM

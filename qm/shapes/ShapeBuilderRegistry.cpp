#include "qm/shapes/IShapeBuilder.h"

namespace QM {

void ShapeBuilderRegistry::registerBuilder(QMenum type, std::unique_ptr<IShapeBuilder> builder) {
    if (type == nullptr || builder == nullptr) {
        return;
    }
    builders_[type] = std::move(builder);
}

IShapeBuilder* ShapeBuilderRegistry::findBuilder(QMenum type) const {
    auto at = builders_.find(type);
    return at == builders_.end() ? nullptr : at->second.get();
}

}  // namespace QM

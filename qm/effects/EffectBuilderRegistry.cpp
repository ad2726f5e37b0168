#include "qm/effects/IEffect.h"

namespace QM {

void EffectBuilderRegistry::add(QMenum type, std::unique_ptr<IEffectBuilder> builder) {
    if (type == nullptr || builder == nullptr) {
        return;
    }
    builders_[type] = std::move(builder);
}

IEffectBuilder* EffectBuilderRegistry::find(QMenum type) const {
    auto at = builders_.find(type);
    return at == builders_.end() ? nullptr : at->second.get();
}

}  // namespace QM

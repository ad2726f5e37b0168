#include "qm/state/State.h"

#include "qm/api/Symbols.h"
#include "qm/state/AttributeGroups.h"

namespace QM {

State::State() {
    declareShapeGroups(attributes_, 255, true);
    declareEffectGroups(attributes_, 255, true);
    declareViewGroup(attributes_, 0x7FFFFFFF, true);
    declareStateGroup(attributes_, 0x7FFFFFFF, true);
    transforms_.setOwner(this);
}

const AttributeMap* State::findResultMap(unsigned id) const {
    auto at = resultMaps_.find(id);
    return at == resultMaps_.end() ? nullptr : at->second.get();
}

AttributeMap* State::findResultMap(unsigned id) {
    auto at = resultMaps_.find(id);
    return at == resultMaps_.end() ? nullptr : at->second.get();
}

AttributeMap& State::resultMapFor(unsigned id) {
    std::unique_ptr<AttributeMap>& slot = resultMaps_[id];
    if (slot == nullptr) {
        slot = std::make_unique<AttributeMap>();
        constexpr double kZero[3] = {0.0, 0.0, 0.0};
        slot->declare<bool>(QM_PROXY_IS_TOUCHING);
        slot->set<bool>(QM_PROXY_IS_TOUCHING, false);
        slot->declareArray<double>(QM_REACTION_FORCE, 3);
        slot->setArray<double>(QM_REACTION_FORCE, kZero);
        // The face touched last; unset until the shape is first touched.
        slot->declare<QMenum>(QM_TOUCHED_FACE);
    }
    return *slot;
}

}  // namespace QM

#include "qm/shapes/Scene.h"

#include <vector>

namespace QM {

namespace {

template <typename T>
void releaseAll(IIDMap<T*>& map) {
    std::vector<T*> held;
    held.reserve(map.size());
    for (auto it = map.iterator(); !it->atEnd(); it->advance()) {
        held.push_back(map.find(it->current()));
    }
    map.clear();
    for (T* object : held) {
        object->releaseReference();
    }
}

template <typename T>
void add(IIDMap<T*>& map, T* object) {
    if (object == nullptr) {
        return;
    }
    const unsigned id = object->getId();
    T* previous = map.find(id);
    if (previous == object) {
        return;
    }
    object->addReference();
    if (previous != nullptr) {
        map.erase(id);
        previous->releaseReference();
    }
    map.insert(id, object);
}

template <typename T>
bool remove(IIDMap<T*>& map, unsigned id) {
    T* object = map.find(id);
    if (object == nullptr) {
        return false;
    }
    map.erase(id);
    object->releaseReference();
    return true;
}

template <typename T>
void swap(IIDMap<T*>& mine, IIDMap<T*>& theirs, unsigned id) {
    T* a = mine.find(id);
    T* b = theirs.find(id);
    mine.erase(id);
    theirs.erase(id);
    if (b != nullptr) {
        mine.insert(id, b);
    }
    if (a != nullptr) {
        theirs.insert(id, a);
    }
}

}  // namespace

void Scene::clear() {
    // Release after emptying the maps, so that a destructor that looks at
    // this scene finds it consistent.
    releaseAll(shapes_);
    releaseAll(effects_);
}

void Scene::addShape(IShape* shape) { add(shapes_, shape); }

bool Scene::removeShape(unsigned id) { return remove(shapes_, id); }

void Scene::swapShape(IScene& other, unsigned id) { swap<IShape>(shapes_, other.getShapes(), id); }

void Scene::addEffect(IEffect* effect) { add(effects_, effect); }

bool Scene::removeEffect(unsigned id) { return remove(effects_, id); }

void Scene::swapEffect(IScene& other, unsigned id) { swap<IEffect>(effects_, other.getEffects(), id); }

}  // namespace QM

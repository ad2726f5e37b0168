#include "qm/api/SymbolTable.h"

#include <cstring>

#include "qm/api/Symbols.h"

// The exported enumerant variables. They are constant-initialised to null, so
// they hold null in the library image until the symbol table fills them.
#define QM_DEFINE_PUBLIC_SYMBOL(name) QM_API QMenum name = nullptr;
#define QM_DEFINE_PUBLIC_SYMBOL_TEXT(name, text) QM_API QMenum name = nullptr;
QM_PUBLIC_SYMBOLS(QM_DEFINE_PUBLIC_SYMBOL, QM_DEFINE_PUBLIC_SYMBOL_TEXT)
QM_RESERVED_SYMBOLS(QM_DEFINE_PUBLIC_SYMBOL)
#undef QM_DEFINE_PUBLIC_SYMBOL
#undef QM_DEFINE_PUBLIC_SYMBOL_TEXT

QM_API QMbitfield QM_HINT_BIT = 0;
QM_API QMbitfield QM_MATERIAL_BIT = 0;
QM_API QMbitfield QM_TOUCH_BIT = 0;
QM_API QMbitfield QM_TRANSFORM_BIT = 0;
QM_API QMbitfield QM_EFFECT_BIT = 0;
QM_API QMbitfield QM_EVENTS_BIT = 0;
QM_API QMuint QM_OBJECT_ANY = 0;

namespace QM {

#define QM_DEFINE_PRIVATE_SYMBOL(name) QMenum name = nullptr;
QM_PRIVATE_SYMBOLS(QM_DEFINE_PRIVATE_SYMBOL)
#undef QM_DEFINE_PRIVATE_SYMBOL

namespace {

// Every name, public then private, in the order in which they are interned.
// The reserved names are not here: their variables stay null.
#define QM_BIND(name) SymbolBinding{#name, &name},
#define QM_BIND_TEXT(name, text) SymbolBinding{text, &name},
const SymbolBinding kBindings[] = {QM_PUBLIC_SYMBOLS(QM_BIND, QM_BIND_TEXT) QM_PRIVATE_SYMBOLS(QM_BIND)};
#undef QM_BIND
#undef QM_BIND_TEXT

SymbolTable* gTable = nullptr;

}  // namespace

SymbolTable::SymbolTable(std::span<const SymbolBinding> bindings) {
    for (const SymbolBinding& binding : bindings) {
        *binding.variable = intern(binding.text);
    }
}

SymbolTable::~SymbolTable() = default;

QMenum SymbolTable::intern(const char* text) {
    if (text == nullptr) {
        return nullptr;
    }
    sched::LockGuard guard(lock_);
    if (symbols_.count(text) != 0) {
        return text;
    }
    const std::size_t n = std::strlen(text) + 1;
    char* copy = nullptr;
    if (n >= kBlockText) {
        oversized_.push_back(std::make_unique<char[]>(n));
        copy = oversized_.back().get();
    } else {
        if (pool_.empty() || pool_.back().used + n >= kBlockText) {
            pool_.emplace_back();
            pool_.back().used = 0;
        }
        Block& block = pool_.back();
        copy = block.text + block.used;
        block.used += static_cast<std::uint32_t>(n);
    }
    std::memcpy(copy, text, n);
    symbols_.insert(copy);
    return copy;
}

std::size_t SymbolTable::blockCount() const {
    sched::LockGuard guard(const_cast<sched::CriticalSectionLock&>(lock_));
    return pool_.size();
}

std::size_t SymbolTable::symbolCount() const {
    sched::LockGuard guard(const_cast<sched::CriticalSectionLock&>(lock_));
    return symbols_.size();
}

ISymbolTable* symbolTable() { return gTable; }

void initialiseSymbols() {
    if (gTable != nullptr) {
        return;
    }
    gTable = new SymbolTable(kBindings);
    gTable->intern("nil");
    QM_HINT_BIT = 1;
    QM_MATERIAL_BIT = 2;
    QM_TOUCH_BIT = 4;
    QM_TRANSFORM_BIT = 8;
    QM_EFFECT_BIT = 16;
    QM_EVENTS_BIT = 32;
    QM_OBJECT_ANY = 0;
}

void releaseSymbols() {
    for (const SymbolBinding& binding : kBindings) {
        *binding.variable = nullptr;
    }
    delete gTable;
    gTable = nullptr;
}

}  // namespace QM

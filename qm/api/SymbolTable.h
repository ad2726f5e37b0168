// Interned symbol texts.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <span>
#include <vector>

#include "common/Lock.h"
#include "qm/qm.h"

namespace QM {

class ISymbolTable {
public:
    // Returns the symbol for a text. A pointer that already is a symbol of
    // this table is returned unchanged; any other pointer gets a new copy of
    // its text, even when an equal text was interned before, so symbols are
    // told apart by address alone. Null gives null. Any thread.
    virtual QMenum intern(const char* text) = 0;
    virtual ~ISymbolTable() = default;
};

// A name and the variable that receives its symbol.
struct SymbolBinding {
    const char* text;
    QMenum* variable;
};

// The symbol texts live in a pool of 512-byte blocks (a 32-bit count of used
// bytes and 508 bytes of text), so that interning a few hundred names makes a
// handful of allocations, and a text never moves once interned. A name never
// spans two blocks: one that does not fit in the space left starts a new
// block. A name too long for any block (508 bytes or more with its
// terminator) gets an allocation of its own.
class SymbolTable final : public ISymbolTable {
public:
    static constexpr std::size_t kBlockSize = 512;
    static constexpr std::size_t kBlockText = kBlockSize - sizeof(std::uint32_t);

    // Interns the bound names in order and stores each symbol in its
    // variable.
    explicit SymbolTable(std::span<const SymbolBinding> bindings = {});
    ~SymbolTable() override;
    SymbolTable(const SymbolTable&) = delete;
    SymbolTable& operator=(const SymbolTable&) = delete;

    QMenum intern(const char* text) override;

    // For tests: the number of pool blocks and of texts interned.
    std::size_t blockCount() const;
    std::size_t symbolCount() const;

private:
    struct Block {
        std::uint32_t used;
        char text[kBlockText];
    };
    static_assert(sizeof(Block) == kBlockSize);

    sched::CriticalSectionLock lock_;
    std::set<const char*> symbols_;
    std::deque<Block> pool_;
    std::vector<std::unique_ptr<char[]>> oversized_;
};

// The process-wide table, or null before the library has loaded (and after
// it has unloaded).
ISymbolTable* symbolTable();

}  // namespace QM

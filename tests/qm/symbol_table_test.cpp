// The symbol table: interning by address and the text pool.
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "qm/api/SymbolTable.h"
#include "qm/api/Symbols.h"

namespace {

using QM::SymbolTable;

TEST(QmSymbolTable, TheLibraryTableHoldsEveryVariable) {
    ASSERT_NE(QM::symbolTable(), nullptr);
    EXPECT_EQ(QM::symbolTable()->intern(QM_STIFFNESS), QM_STIFFNESS);
    EXPECT_STREQ(QM::QM_INT_FRONT_FACE_STIFFNESS, "QM_INT_FRONT_FACE_STIFFNESS");
    EXPECT_STREQ(QM::QM_INT_REPORT_COLLISIONS, "QM_INT_REPORT_COLLISIONS");
    EXPECT_STREQ(QM_EFFECT_PROPERTY_TYPE, "QM_EFFECT_PROPERTY_TYP");
}

TEST(QmSymbolTable, InterningComparesAddressesNotTexts) {
    char buffer[] = "QM_STIFFNESS";
    const QMenum copy = QM::symbolTable()->intern(buffer);
    EXPECT_NE(copy, QM_STIFFNESS);
    EXPECT_NE(copy, static_cast<QMenum>(buffer));
    EXPECT_STREQ(copy, "QM_STIFFNESS");
    EXPECT_EQ(QM::symbolTable()->intern(copy), copy);
    // Interning the same buffer again gives yet another symbol: the buffer
    // itself is not a symbol.
    EXPECT_NE(QM::symbolTable()->intern(buffer), copy);
}

TEST(QmSymbolTable, NullInternsToNull) {
    SymbolTable table;
    EXPECT_EQ(table.intern(nullptr), nullptr);
    EXPECT_EQ(table.symbolCount(), 0u);
}

TEST(QmSymbolTable, BindingsFillTheirVariablesInOrder) {
    QMenum a = nullptr;
    QMenum b = nullptr;
    const QM::SymbolBinding bindings[] = {{"A_NAME", &a}, {"B_NAME", &b}};
    SymbolTable table(bindings);
    EXPECT_STREQ(a, "A_NAME");
    EXPECT_STREQ(b, "B_NAME");
    EXPECT_LT(a, b);  // packed one after the other in the first block
    EXPECT_EQ(table.intern(a), a);
    EXPECT_EQ(table.blockCount(), 1u);
}

// A block holds 508 bytes of text; a name fits when the used count plus its
// length with terminator stays below 508. Names never span two blocks.
TEST(QmSymbolTable, NamesThatDoNotFitStartANewBlock) {
    struct Case {
        const char* what;
        std::vector<std::size_t> lengths;  // text lengths, terminator excluded
        std::size_t blocks;
    };
    const Case cases[] = {
        {"one short name", {10}, 1},
        {"two names up to 507 bytes", {300, 205}, 1},       // 301 + 206 = 507
        {"two names of exactly 508 bytes", {300, 206}, 2},  // 301 + 207 = 508
        {"largest name that fits", {506}, 1},
        {"many small names", std::vector<std::size_t>(60, 15), 2},  // 16 each: 31 per block
        {"a name too long for any block", {507}, 0},
        {"a long name between short ones", {5, 600, 5}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SymbolTable table;
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < c.lengths.size(); ++i) {
            texts.push_back(std::string(c.lengths[i], static_cast<char>('a' + i % 26)));
        }
        std::vector<QMenum> symbols;
        for (const std::string& text : texts) {
            symbols.push_back(table.intern(text.c_str()));
        }
        EXPECT_EQ(table.blockCount(), c.blocks);
        EXPECT_EQ(table.symbolCount(), texts.size());
        for (std::size_t i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(std::string(symbols[i]), texts[i]) << i;
        }
    }
}

TEST(QmSymbolTable, ConcurrentInterningGivesDistinctSymbols) {
    SymbolTable table;
    constexpr int kNames = 500;
    std::vector<QMenum> first(kNames);
    std::vector<QMenum> second(kNames);
    auto intern = [&](std::vector<QMenum>& out) {
        for (int i = 0; i < kNames; ++i) {
            const std::string text = "NAME_" + std::to_string(i);
            out[static_cast<std::size_t>(i)] = table.intern(text.c_str());
        }
    };
    std::thread other([&] { intern(second); });
    intern(first);
    other.join();
    EXPECT_EQ(table.symbolCount(), 2u * kNames);
    for (int i = 0; i < kNames; ++i) {
        const auto at = static_cast<std::size_t>(i);
        EXPECT_NE(first[at], second[at]);
        EXPECT_STREQ(first[at], second[at]);
    }
}

}  // namespace

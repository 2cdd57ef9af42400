// The code tree of the English table: every character is reached by walking its elements from
// the root, nothing else is a character, and the rarer characters carry the lower prior.

#include "soft/code_tree.h"

#include <gtest/gtest.h>

#include <string>

namespace dahlo {
namespace {

TEST(CodeTree, EveryCharacterOfTheTableIsReachedByItsElementsAndNothingElse) {
    const CharsetTable& table = EnglishCharsetTable();
    const std::vector<CodeTreeNode> tree = BuildCodeTree(table);
    int characters = 0;
    for (const CodeTreeNode& node : tree) characters += node.character ? 1 : 0;
    int inTable = 0;
    for (std::uint32_t code = 2; code < table.size(); ++code) {
        if (table[code][0] == '%') continue;
        ++inTable;
        int elements = 0;
        while ((code >> (elements + 1)) != 0) ++elements;
        int node = 0;
        for (int i = elements - 1; i >= 0 && node >= 0; --i) {
            node = tree[static_cast<std::size_t>(node)].child[(code >> i) & 1];
        }
        ASSERT_GE(node, 0) << table[code];
        EXPECT_TRUE(tree[static_cast<std::size_t>(node)].character) << table[code];
        EXPECT_EQ(tree[static_cast<std::size_t>(node)].code, code) << table[code];
    }
    EXPECT_EQ(characters, inTable);
    // ".-" is A, "-." is N: the elements are read first to last.
    const CodeTreeNode& dot = tree[static_cast<std::size_t>(tree[0].child[0])];
    EXPECT_EQ(std::string(table[tree[static_cast<std::size_t>(dot.child[1])].code]), "a");
}

TEST(CodeTree, PunctuationAndProsignsWeighLessThanLettersAndDigits) {
    const std::vector<CodeTreeNode> tree = BuildCodeTree(EnglishCharsetTable());
    auto prior = [&](std::uint32_t code) {
        for (const CodeTreeNode& node : tree) {
            if (node.code == code) return node.log_prior;
        }
        return 1.0;
    };
    EXPECT_EQ(prior(0b10), 0.0);        // E
    EXPECT_EQ(prior(0b111111), 0.0);    // 0
    EXPECT_LT(prior(0b1001100), -2.0);  // ?
    EXPECT_LT(prior(0b101010), -2.0);   // AR
    EXPECT_EQ(OpenCodeTree().size(), 1u);
}

}  // namespace
}  // namespace dahlo

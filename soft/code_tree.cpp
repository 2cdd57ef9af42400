#include "soft/code_tree.h"

#include <array>

namespace dahlo {

namespace {

// Characters other than letters and digits (punctuation, prosigns, national letters) are about
// one in thirty of CW text, shared among some twenty-six codes, against 36 letters and digits
// sharing the rest: each is about 25 times rarer (3.2 nats), which a search weighs in where a
// character's marks leave its code in doubt.
constexpr double kRareCharacterLogPrior = -3.2;

bool LetterOrDigit(const char* text) {
    const char c = text[0];
    return text[1] == '\0' &&
           ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
}

}  // namespace

std::vector<CodeTreeNode> BuildCodeTree(const CharsetTable& table) {
    std::vector<CodeTreeNode> tree(1);
    std::array<std::int16_t, 256> nodeOf{};
    nodeOf.fill(-1);
    nodeOf[1] = 0;
    for (std::uint32_t code = 2; code < table.size(); ++code) {
        if (table[code][0] == '%') continue;
        int elements = 0;
        while ((code >> (elements + 1)) != 0) ++elements;
        for (int i = elements - 1; i >= 0; --i) {
            const std::uint32_t prefix = code >> i;
            if (nodeOf[prefix] >= 0) continue;
            nodeOf[prefix] = static_cast<std::int16_t>(tree.size());
            CodeTreeNode node;
            node.code = prefix;
            tree.push_back(node);
            tree[static_cast<std::size_t>(nodeOf[prefix >> 1])].child[prefix & 1] = nodeOf[prefix];
        }
        CodeTreeNode& node = tree[static_cast<std::size_t>(nodeOf[code])];
        node.character = true;
        node.log_prior = LetterOrDigit(table[code]) ? 0.0 : kRareCharacterLogPrior;
    }
    return tree;
}

std::vector<CodeTreeNode> OpenCodeTree() {
    CodeTreeNode root;
    root.child[0] = 0;
    root.child[1] = 0;
    root.character = true;
    return {root};
}

}  // namespace dahlo

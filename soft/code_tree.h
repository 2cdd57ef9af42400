#pragma once
// The code tree of a character table, for a search that reads only its characters: node 0 is
// the empty code, each node's children follow a dot and a dash, and a node is a character
// where its code is one in the table. Characters other than letters and digits carry a lower
// prior, since they are rarer in CW text.

#include <cstdint>
#include <vector>

#include "morse/charset.h"

namespace dahlo {

struct CodeTreeNode {
    std::uint32_t code = 1;            // a leading 1, then 1 per dash and 0 per dot
    std::int16_t child[2] = {-1, -1};  // node after a dot, after a dash; -1: none
    bool character = false;            // the code is a character of the table
    double log_prior = 0.0;            // nats, 0 for letters and digits, else lower
};

// Every prefix of a code in `table` (codes of one to seven elements), the root first.
std::vector<CodeTreeNode> BuildCodeTree(const CharsetTable& table);
// One node that every mark returns to and every code ends at: any keying is read.
std::vector<CodeTreeNode> OpenCodeTree();

}  // namespace dahlo

#include "support/text_compare.h"

#include <algorithm>
#include <vector>

namespace dahlo::test {

std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return row[b.size()];
}

std::size_t CharactersToAdapt(const std::string& sent, const std::string& decoded) {
    for (std::size_t k = 0; k <= sent.size(); ++k) {
        const std::string tail = sent.substr(k);
        if (decoded.size() >= tail.size() &&
            decoded.compare(decoded.size() - tail.size(), tail.size(), tail) == 0) {
            return k;
        }
    }
    return sent.size();
}

}  // namespace dahlo::test

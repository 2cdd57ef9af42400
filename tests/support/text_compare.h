#pragma once
// Comparing decoded text with what was sent.

#include <cstddef>
#include <string>

namespace dahlo::test {

// Levenshtein distance: insertions, deletions and substitutions of single bytes.
std::size_t EditDistance(const std::string& a, const std::string& b);

// How many characters at the start of `sent` are lost or garbled: the smallest k such that
// `decoded` ends with everything sent from character k on.
std::size_t CharactersToAdapt(const std::string& sent, const std::string& decoded);

}  // namespace dahlo::test

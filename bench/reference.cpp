// The per-bit reference: the tests' literal model of spindra as a program,
// reading its token with operator>>.
#include <iostream>
#include <string>

#include "tests/model.hpp"

int main() {
  std::ios::sync_with_stdio(false);
  std::cin.tie(nullptr);
  std::string s;
  std::cin >> s;
  std::cout << modelRunToken(s, false, 0, false).output;
  return 0;
}

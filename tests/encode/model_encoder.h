#pragma once
// The encoder written as plainly as possible, to compare the optimised one against:
// modular window arithmetic, byte by byte signed key comparison, an explicit tree with
// parent, left and right links, one group at a time. Shared by the tests and the
// round-trip fuzz target.

#include <cstdint>
#include <vector>

std::vector<std::uint8_t> model_encode(const std::vector<std::uint8_t>& input);

// Residue codes as the kernels index their score tables. Private to the
// engine; plain data only, as it is included by translation units built
// for different instruction sets.
#pragma once

namespace tormid {

// 0-19: the alphabet in order; kOutsideCode: any other letter, which scores
// 0.0 everywhere.
inline constexpr int kOutsideCode = 20;
inline constexpr int kCodes = kOutsideCode + 1;

}  // namespace tormid

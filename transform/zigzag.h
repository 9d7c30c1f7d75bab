// Coefficient order tables shared by the entropy decoder and the transforms.
#pragma once

#include <cstdint>

namespace qrl {

// A block has 64 coefficients. The entropy decoder may index past position 63
// when a corrupt run length overshoots the end of the block: the largest AC
// run is 15 zeros plus one coefficient, so 16 extra entries keep every such
// index inside the table, and they all point at natural index 63.
constexpr int32_t kBlockCoefficients = 64;
constexpr int32_t kZigzagGuardEntries = 16;
constexpr int32_t kZigzagTableEntries = kBlockCoefficients + kZigzagGuardEntries;

// Zig-zag position k (ITU-T T.81, Figure A.6) -> natural (row-major) index
// 8*v + u, followed by the guard entries.
inline constexpr int32_t zigzag_to_natural[kZigzagTableEntries] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
    // Guard entries.
    63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63,
};

// AAN scale factors by zig-zag position: s(u)*s(v)/8 rounded to six decimals,
// with s(0) = 1 and s(i) = sqrt(2)*cos(i*pi/16), (u, v) the frequencies of the
// natural index at that position. The fast dequantization table folds them in.
inline constexpr double aan_scale_factors[kBlockCoefficients] = {
    0.125000, 0.173380, 0.173380, 0.163320, 0.240485, 0.163320, 0.146984, 0.226532,
    0.226532, 0.146984, 0.125000, 0.203873, 0.213388, 0.203873, 0.125000, 0.098212,
    0.173380, 0.192044, 0.192044, 0.173380, 0.098212, 0.067650, 0.136224, 0.163320,
    0.172835, 0.163320, 0.136224, 0.067650, 0.034487, 0.093833, 0.128320, 0.146984,
    0.146984, 0.128320, 0.093833, 0.034487, 0.047835, 0.088388, 0.115485, 0.125000,
    0.115485, 0.088388, 0.047835, 0.045060, 0.079547, 0.098212, 0.098212, 0.079547,
    0.045060, 0.040553, 0.067650, 0.077165, 0.067650, 0.040553, 0.034487, 0.053152,
    0.053152, 0.034487, 0.027097, 0.036612, 0.027097, 0.018664, 0.018664, 0.009515,
};

} // namespace qrl

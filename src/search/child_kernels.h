// Child kernels: all children of one packed parent under a list of moves,
// packed, by the fastest routine the processor runs.
//
//   portable  the per-move gather routines of packed_moves.h on the
//             unpacked parent (any processor)
//   avx2      the parent spread to one byte per sticker in vector
//             registers; a move is six byte shuffles, and the child is
//             packed back by two multiply-adds per half (x86-64 with AVX2)
//   avx512    the same with one 64-byte permutation per move and one to
//             pack (AVX-512 VBMI)
//
// Every kernel gives exactly what the portable one gives, bit for bit; the
// choice changes only the speed.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "search/packed_cube.h"

namespace tessel {

enum class ChildKernel { portable, avx2, avx512 };
inline constexpr ChildKernel kAllChildKernels[] = {ChildKernel::portable, ChildKernel::avx2,
                                                   ChildKernel::avx512};

// Writes the child of `parent` under moves[j] to out[j] for every j in
// [0, count), with moves[j] as its last move (also a child equal to its
// parent). `out` has room for `count`.
using ExpandFn = void (*)(const PackedCube& parent, const std::uint8_t* moves, unsigned count,
                          PackedCube* out);

// Whether this processor (and build) runs the kernel.
bool child_kernel_available(ChildKernel kernel);
// The kernel's routine; the portable one where the kernel is not available.
// Without `relabels`, only for moves that relabel no colour (the face
// turns), which it makes a little faster.
ExpandFn expand_function(ChildKernel kernel, bool relabels = true);
// "portable", "avx2", "avx512".
std::string_view child_kernel_name(ChildKernel kernel);
// The kernel of that name, when there is one.
bool child_kernel_by_name(std::string_view name, ChildKernel& kernel);

// The kernel searches use: the fastest available, unless set otherwise
// (for tests and benchmarks) or by the environment variable
// TESSEL_KERNEL=portable|avx2|avx512 (an unavailable one falls back to the
// fastest).
ChildKernel child_kernel();
// Sets the kernel searches use; false (and no change) when it is not
// available here.
bool set_child_kernel(ChildKernel kernel);
// Back to the default choice.
void reset_child_kernel();

}  // namespace tessel

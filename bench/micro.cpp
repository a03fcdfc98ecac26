// Micro-benchmarks: moves, packing, the child kernels, one level step and
// the join.
//
// Level steps use the 18 face turns from the solved cube, forward side:
// building level 5 gives 577 206 entries (about 1e6), level 6 7 682 805
// (about 1e7). The levels before the step are built once; each iteration
// regenerates the step's level over the same memory, so the figures leave
// out first-touch page faults (tessel_jobs LEVELS includes them).
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "cube/moves.h"
#include "plain_level.h"
#include "search/child_kernels.h"
#include "search/join.h"
#include "search/legal_moves.h"
#include "search/level_cache.h"
#include "search/packed_cube.h"
#include "search/search_side.h"

namespace {

using namespace tessel;

// A fixed scrambled cube: the moves' input is never the solved cube.
Cube scrambled_cube() {
  Cube c = full_cube();
  for (const char* name : {"R", "U", "F'", "L2", "D", "B'", "R2", "F", "U'", "L"})
    c = apply_move(move_index(name), c);
  return c;
}

void BM_ApplyMove(benchmark::State& state) {
  const int m = static_cast<int>(state.range(0));
  Cube a = scrambled_cube(), b;
  for (auto _ : state) {
    apply_move(m, b, a);
    benchmark::DoNotOptimize(b);
    std::swap(a, b);
  }
  state.SetLabel(std::string(all_rotations_s[static_cast<std::size_t>(m)]));
}
BENCHMARK(BM_ApplyMove)->Arg(move_index("R"))->Arg(move_index("M"));

void BM_PackCe(benchmark::State& state) {
  Cube cube = scrambled_cube();
  for (auto _ : state) {
    benchmark::DoNotOptimize(cube);
    PackedCube p = pack_ce(cube, 7);
    benchmark::DoNotOptimize(p);
  }
}
BENCHMARK(BM_PackCe);

void BM_UnpackCe(benchmark::State& state) {
  PackedCube packed = pack_ce(scrambled_cube(), 7);
  Cube cube;
  int move = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(packed);
    unpack_ce(cube, move, packed);
    benchmark::DoNotOptimize(cube);
    benchmark::DoNotOptimize(move);
  }
}
BENCHMARK(BM_UnpackCe);

// A side with `levels` levels built, kept for the whole run.
struct BuiltSide {
  MemoryBudget budget;
  search_side side;
  BuiltSide(const Cube& root, int direction, int levels, const LegalMoves& legal)
      : side(root, direction, budget) {
    for (int l = 0; l < levels; ++l) side.grow(legal);
  }
};

// Sides from the solved cube, built on first use.
BuiltSide& solved_side(int levels) {
  static std::unique_ptr<BuiltSide> sides[8];
  auto& s = sides[levels];
  if (!s) s = std::make_unique<BuiltSide>(full_cube(), kForward, levels, LegalMoves{});
  return *s;
}

// Times the step that builds level `range(0)` from the level before it.
void time_level_step(benchmark::State& state, level_step step) {
  const int level = static_cast<int>(state.range(0));
  search_side& side = solved_side(level - 1).side;
  const LegalMoves legal;
  side.write_next_marker();
  std::size_t produced = 0;
  for (auto _ : state) {
    const std::size_t end =
        step(side.cache, side.level_start, side.level_end, side.direction, legal);
    produced = end - (side.level_end + 1);
    benchmark::DoNotOptimize(side.cache.cubes());
  }
  side.cache.set_used(side.level_end);
  state.counters["entries"] = static_cast<double>(produced);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(produced));
}

void BM_GenerateNewLevel(benchmark::State& state) { time_level_step(state, generate_new_level); }
BENCHMARK(BM_GenerateNewLevel)->Arg(5)->Arg(6)->Unit(benchmark::kMillisecond)->UseRealTime();

// Makes every child of level 5 (all 18 face turns after each parent, less
// its own face) with one kernel: range(0) is the kernel, as ChildKernel;
// range(1) is 1 for the routine that also relabels colours (as for slices
// and rotations), 0 for the one for face turns alone.
void BM_ExpandChildren(benchmark::State& state) {
  const auto kernel = static_cast<ChildKernel>(state.range(0));
  const bool relabels = state.range(1) != 0;
  state.SetLabel(std::string(child_kernel_name(kernel)) + (relabels ? " relabelling" : ""));
  if (!child_kernel_available(kernel)) {
    state.SkipWithError("not available on this processor");
    return;
  }
  const ExpandFn expand = expand_function(kernel, relabels);
  const LevelRange level = solved_side(5).side.newest();
  std::array<std::uint8_t, 15> moves[kFaceMoveCount];
  for (int last = 0; last < kFaceMoveCount; ++last)
    for (int m = 0, n = 0; m < kFaceMoveCount; ++m)
      if (m / 3 != last / 3)
        moves[last][static_cast<std::size_t>(n++)] = static_cast<std::uint8_t>(m);
  std::array<PackedCube, 15> children;
  std::uint64_t made = 0, mix = 0;
  for (auto _ : state) {
    for (std::size_t i = level.start; i < level.end; ++i) {
      const PackedCube& parent = level.cubes[i];
      expand(parent, moves[unpack_last_move(parent) % kFaceMoveCount].data(), 15, children.data());
      for (const PackedCube& c : children) mix += c.hi ^ c.lo;
      made += 15;
    }
    benchmark::DoNotOptimize(mix);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(made));
}
BENCHMARK(BM_ExpandChildren)
    ->Args({static_cast<int>(ChildKernel::portable), 0})
    ->Args({static_cast<int>(ChildKernel::avx2), 1})
    ->Args({static_cast<int>(ChildKernel::avx2), 0})
    ->Args({static_cast<int>(ChildKernel::avx512), 1})
    ->Args({static_cast<int>(ChildKernel::avx512), 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The yardstick at the smaller size, for comparison.
void BM_PlainLevelStep(benchmark::State& state) {
  time_level_step(state, bench::plain_generate_new_level);
}
BENCHMARK(BM_PlainLevelStep)->Arg(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// Joins level 5 of the solved cube's side with level 5 of the backward side
// of a cube ten moves away: every 10-move sequence between them is rebuilt.
void BM_FindSequence(benchmark::State& state) {
  const LegalMoves legal;
  BuiltSide& forward = solved_side(5);
  static std::unique_ptr<BuiltSide> backward;
  if (!backward) {
    Cube target = full_cube();
    for (const char* name : {"R", "U", "F'", "L", "D2", "B", "R2", "U'", "F", "D"})
      target = apply_move(move_index(name), target);
    backward = std::make_unique<BuiltSide>(target, kBackward, 5, legal);
  }
  const LevelRange f = forward.side.newest();
  const LevelRange b = backward->side.newest();
  std::int64_t found = 0;
  for (auto _ : state) {
    std::int64_t moves = 0;
    found = find_sequence(f, b, std::numeric_limits<std::int64_t>::max(),
                          [&moves](std::span<const int> seq) {
                            moves += static_cast<std::int64_t>(seq.size());
                            return true;
                          });
    benchmark::DoNotOptimize(moves);
  }
  state.counters["forward"] = static_cast<double>(f.end - f.start);
  state.counters["backward"] = static_cast<double>(b.end - b.start);
  state.counters["found"] = static_cast<double>(found);
}
BENCHMARK(BM_FindSequence)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

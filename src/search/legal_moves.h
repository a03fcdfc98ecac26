// The moves a search tries, and the pruning rule that keeps it from
// producing the same sequence in many equivalent forms.
#pragma once

#include <span>
#include <string_view>
#include <vector>

namespace tessel {

// Direction of a search side: the forward side grows from the first cube,
// the backward side from the second.
inline constexpr int kForward = 1;
inline constexpr int kBackward = -1;

// The legal move list: move indices in list order (duplicates allowed).
class LegalMoves {
 public:
  LegalMoves() { set_all_rotations(); }

  // The 18 face turns, R R2 R' U ... B'.
  void set_all_rotations();
  // Replaces the list by the moves a generator word selects: a letter
  // followed by '2' selects that half turn, any other letter all three
  // moves of its family, every other character nothing. The list is in
  // move-index order; a move is listed once per position that selects it.
  void set_3gen(std::string_view word);

  std::span<const int> moves() const { return moves_; }
  int size() const { return static_cast<int>(moves_.size()); }

 private:
  std::vector<int> moves_;
};

constexpr bool is_sister_rotation(int a, int b) { return a / 3 == b / 3; }

// Whether `later` may not follow `earlier`: same family, or same axis with
// move indices increasing (forward side) or decreasing (backward side).
bool is_forbidden_pair(int later, int earlier, int direction);

// Whether any consecutive pair of the sequence is forbidden.
bool is_forbidden_sequence(std::span<const int> moves, int direction);

// The inverse move: quarter and inverse quarter turn swap, half turns stay.
constexpr int reverse_rotation(int m) { return m - 2 * (m % 3) + 2; }

}  // namespace tessel

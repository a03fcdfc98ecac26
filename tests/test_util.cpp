#include "test_util.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "cli/interpreter.h"
#include "core/ranks.h"
#include "cube/display.h"
#include "cube/moves.h"

namespace tessel::test {

std::vector<int> random_moves(std::mt19937& rng, int count, bool all_moves) {
  std::uniform_int_distribution<int> pick(0, all_moves ? kMoveCount - 1 : kFaceMoveCount - 1);
  std::vector<int> moves;
  for (int i = 0; i < count; ++i) moves.push_back(pick(rng));
  return moves;
}

Cube random_stickers(std::mt19937& rng) {
  std::uniform_int_distribution<int> pick(0, 7);
  Cube c;
  for (auto& b : c.s) b = static_cast<std::uint8_t>(pick(rng));
  return c;
}

Cube apply_sequence(Cube cube, const std::vector<int>& moves) {
  for (int m : moves) cube = apply_move(m, cube);
  return cube;
}

std::vector<int> parse_moves(const std::string& text) {
  std::istringstream in(text);
  std::vector<int> moves;
  std::string word;
  while (in >> word) moves.push_back(move_index(word));
  return moves;
}

RunResult run(const std::string& input, const std::vector<std::string>& args) {
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  RunResult r;
  r.status = run_tessel(args, in, out, err);
  r.out = out.str();
  r.err = err.str();
  return r;
}

namespace {

// Ranks of one process, one thread each, that gather through shared slots.
class ThreadRanks {
 public:
  explicit ThreadRanks(int size) : size_(size), slots_(static_cast<std::size_t>(size)) {}

  int size() const { return size_; }

  std::vector<std::string> all_gather(int rank, const std::string& mine) {
    std::unique_lock<std::mutex> lock(mutex_);
    // A rank early for the next gathering waits until every rank has taken
    // the last one.
    wait(lock, [this] { return !publishing_; });
    slots_[static_cast<std::size_t>(rank)] = mine;
    if (++arrived_ == size_) {
      gathered_ = slots_;
      arrived_ = 0;
      taken_ = 0;
      publishing_ = true;
      ++round_;
      changed_.notify_all();
    } else {
      const std::uint64_t round = round_;
      wait(lock, [this, round] { return round_ != round; });
    }
    std::vector<std::string> all = gathered_;
    if (++taken_ == size_) {
      publishing_ = false;
      changed_.notify_all();
    }
    return all;
  }

 private:
  // A rank that never comes would leave the others waiting for good.
  template <typename Ready>
  void wait(std::unique_lock<std::mutex>& lock, Ready ready) {
    if (!changed_.wait_for(lock, std::chrono::minutes(2), ready))
      throw std::runtime_error("a rank did not come to a gathering");
  }

  const int size_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> slots_, gathered_;
  int arrived_ = 0, taken_ = 0;
  bool publishing_ = false;
  std::uint64_t round_ = 0;
};

class ThreadRank : public Ranks {
 public:
  ThreadRank(ThreadRanks& group, int rank) : group_(group), rank_(rank) {}
  int rank() const override { return rank_; }
  int size() const override { return group_.size(); }
  std::vector<std::string> all_gather(const std::string& mine) override {
    return group_.all_gather(rank_, mine);
  }

 private:
  ThreadRanks& group_;
  int rank_;
};

std::string replace_all(std::string text, std::string_view from, std::string_view to) {
  if (from == to) return text;
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// The picture address the NAME.err files are written with.
constexpr std::string_view kDefaultEndpoint = "http://localhost:8047/cube";

}  // namespace

void on_ranks(int ranks, const std::function<void(Ranks&)>& run) {
  ThreadRanks group(ranks);
  std::vector<std::exception_ptr> thrown(static_cast<std::size_t>(ranks));
  const auto run_rank = [&](int r) {
    try {
      ThreadRank rank(group, r);
      run(rank);
    } catch (...) {
      thrown[static_cast<std::size_t>(r)] = std::current_exception();
    }
  };
  std::vector<std::thread> threads;
  for (int r = 1; r < ranks; ++r) threads.emplace_back(run_rank, r);
  run_rank(0);
  for (auto& t : threads) t.join();
  for (const auto& e : thrown)
    if (e) std::rethrow_exception(e);
}

std::vector<RunResult> run_on_ranks(const std::string& input, const std::vector<std::string>& args,
                                    int ranks, const std::function<void(Interpreter&)>& setup) {
  std::vector<RunResult> results(static_cast<std::size_t>(ranks));
  on_ranks(ranks, [&](Ranks& rank) {
    const auto i = static_cast<std::size_t>(rank.rank());
    std::istringstream in(input);
    std::ostringstream out, err;
    Interpreter interpreter(in, out, err);
    interpreter.session().set_ranks(&rank);
    if (setup) setup(interpreter);
    results[i].status = interpreter.run(args);
    results[i].out = out.str();
    results[i].err = err.str();
    results[i].stats = interpreter.session().stats();
  });
  return results;
}

std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void PrintTo(const TranscriptCase& c, std::ostream* os) { *os << c.name; }

std::vector<TranscriptCase> load_transcripts(const std::filesystem::path& dir) {
  namespace fs = std::filesystem;
  std::vector<TranscriptCase> cases;
  if (!fs::is_directory(dir)) return cases;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() != ".in") continue;
    TranscriptCase c;
    c.name = entry.path().stem().string();
    const std::string base = (dir / c.name).string();
    c.input = read_file(entry.path());
    c.out = read_file(base + ".out");
    const std::string status = read_file(base + ".status");
    // A missing or unreadable status file is caught by the transcript
    // runner's completeness test.
    c.status = status.empty() ? -1 : std::atoi(status.c_str());
    if (fs::exists(base + ".args")) {
      std::istringstream lines(read_file(base + ".args"));
      for (std::string line; std::getline(lines, line);) c.args.push_back(line);
    }
    if (fs::exists(base + ".err"))
      c.err = replace_all(read_file(base + ".err"), kDefaultEndpoint, picture_endpoint);
    cases.push_back(std::move(c));
  }
  std::sort(cases.begin(), cases.end(),
            [](const TranscriptCase& a, const TranscriptCase& b) { return a.name < b.name; });
  return cases;
}

namespace {

// Axis letter of a move, as the pruning rule groups the families.
char axis_of(int m) {
  static constexpr char kAxes[] = "RUFRUFxyzRUFRRUUFF";  // one letter per family
  return kAxes[m / 3];
}

bool canonical_pair(int earlier, int later) {
  if (earlier / 3 == later / 3) return false;
  if (axis_of(earlier) != axis_of(later)) return true;
  return later < earlier;
}

std::string key_of(const Cube& c) { return std::string(c.s.begin(), c.s.end()); }

struct CanonicalCounter {
  const Cube& target;
  const std::vector<int>& moves;
  std::unordered_map<std::string, int> near;  // distance to target, up to kRadius
  static constexpr int kRadius = 4;

  CanonicalCounter(const Cube& t, const std::vector<int>& m) : target(t), moves(m) {
    // Breadth-first ball of the cubes within kRadius moves of the target.
    // Stepping back from the target needs the inverses; the moves themselves
    // are added too, which only enlarges the ball and keeps pruning sound.
    std::vector<int> both = moves;
    for (int mv : moves) both.push_back(mv - 2 * (mv % 3) + 2);
    std::vector<Cube> frontier = {target};
    near[key_of(target)] = 0;
    for (int d = 1; d <= kRadius; ++d) {
      std::vector<Cube> next;
      for (const Cube& c : frontier)
        for (int mv : both) {
          const Cube n = apply_move(mv, c);
          if (near.emplace(key_of(n), d).second) next.push_back(n);
        }
      frontier = std::move(next);
    }
  }

  long long count(const Cube& c, int last, int remaining) const {
    if (remaining == 0) return c == target ? 1 : 0;
    if (remaining <= kRadius) {
      const auto it = near.find(key_of(c));
      if (it == near.end() || it->second > remaining) return 0;
    }
    long long total = 0;
    for (int m : moves) {
      if (last >= 0 && !canonical_pair(last, m)) continue;
      const Cube n = apply_move(m, c);
      if (n == c) continue;
      total += count(n, m, remaining - 1);
    }
    return total;
  }
};

}  // namespace

long long count_canonical_sequences(const Cube& first, const Cube& second, int length,
                                    const std::vector<int>& moves) {
  const CanonicalCounter counter(second, moves);
  return counter.count(first, -1, length);
}

}  // namespace tessel::test

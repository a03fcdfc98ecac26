// tessel_jobs JOB [-v] [--levels N]: runs one fixed benchmark job in-process and prints
// one line of figures (key=value pairs):
//
//   J12 J13 J14 JOLL  a search through the interpreter, standard output
//                     digested (FNV-1a 64 over every byte) and counted
//   J2P               solve_two_phase on 20 fixed 25-move scrambles, each in
//                     a fresh interpreter
//   JBATCH            50 last-layer orientation cases solved against one
//                     target up to 16 moves with RUF, all in one
//                     interpreter, then each in a fresh one (apart_s); the
//                     two outputs must be the same
//   LEVELS            levels 1..7 of one side from the solved cube, built by
//                     the plain step and by generate_new_level, checked to be
//                     identical entry for entry; prints both times and the
//                     ratio plain/real
//
// Common fields: wall_s (seconds), cpu_s (processor seconds of the process,
// user and system: on a busy machine wall_s also counts waiting for a core),
// peak_mib (peak resident memory), stored (entries stored by the largest
// search), bytes_per_entry (peak resident bytes / stored), gen_per_s
// (children generated per second), lines (output lines), digest.
//
// Options: -v adds details on standard error; --levels N makes LEVELS build
// N levels instead of 7 (a quick check); --threads N builds and joins large
// levels on N threads instead of one per core (printed as threads=N);
// --kernel NAME makes children with that kernel (portable, avx2, avx512)
// instead of the fastest this processor runs (printed as kernel=NAME).
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "cli/interpreter.h"
#include "core/parallel.h"
#include "cube/moves.h"
#include "plain_level.h"
#include "search/child_kernels.h"
#include "search/legal_moves.h"
#include "search/level_cache.h"
#include "search/search_side.h"

namespace {

using tessel::PackedCube;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Processor seconds of the whole process so far: on a shared machine the
// wall time also counts waiting for a core.
double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// ---- Output digest ----------------------------------------------------------

constexpr std::uint64_t kFnvOffset = 0xcbf29ce484222325ULL;
constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;

void fnv_add(std::uint64_t& h, const unsigned char* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    h ^= p[i];
    h *= kFnvPrime;
  }
}

// Keeps nothing: folds every byte into an FNV-1a 64 digest, counts line ends.
class DigestBuf : public std::streambuf {
 public:
  std::uint64_t digest() const { return hash_; }
  std::uint64_t lines() const { return lines_; }
  std::uint64_t bytes() const { return bytes_; }
  const std::string& last_line() const { return last_line_; }

 protected:
  int_type overflow(int_type ch) override {
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    const char c = traits_type::to_char_type(ch);
    add(&c, 1);
    return ch;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    add(s, static_cast<std::size_t>(n));
    return n;
  }

 private:
  void add(const char* s, std::size_t n) {
    fnv_add(hash_, reinterpret_cast<const unsigned char*>(s), n);
    bytes_ += n;
    for (std::size_t i = 0; i < n; ++i) {
      if (s[i] == '\n') {
        ++lines_;
        last_line_ = current_;
        current_.clear();
      } else {
        current_ += s[i];
      }
    }
  }

  std::uint64_t hash_ = kFnvOffset;
  std::uint64_t lines_ = 0;
  std::uint64_t bytes_ = 0;
  std::string current_, last_line_;
};

// Accepts and drops everything.
class NullBuf : public std::streambuf {
 protected:
  int_type overflow(int_type ch) override { return traits_type::not_eof(ch); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// ---- Memory -----------------------------------------------------------------

double peak_rss_bytes() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) * 1024.0;  // Linux: KiB
}

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM"), or -1.
double status_bytes(std::string_view field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, field.size(), field) == 0 && line.size() > field.size() &&
        line[field.size()] == ':') {
      std::istringstream values(line.substr(field.size() + 1));
      double kib = -1;
      values >> kib;
      return kib * 1024.0;
    }
  }
  return -1;
}

// Starts a new peak: VmHWM drops to the current resident size.
bool reset_peak_rss() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

constexpr double kMiB = 1024.0 * 1024.0;

// ---- Figures ------------------------------------------------------------------

struct Figures {
  std::string job;
  double wall_s = 0;
  double cpu_s = 0;
  double peak_bytes = 0;
  std::uint64_t stored = 0;
  std::uint64_t generated = 0;
  std::uint64_t lines = 0;
  std::uint64_t digest = 0;
  std::string extra;  // job-specific key=value pairs
};

void print_figures(const Figures& f) {
  const double per_entry = f.stored ? f.peak_bytes / static_cast<double>(f.stored) : 0.0;
  const double rate = f.wall_s > 0 ? static_cast<double>(f.generated) / f.wall_s : 0.0;
  std::printf("%s wall_s=%.3f cpu_s=%.3f peak_mib=%.1f stored=%" PRIu64
              " bytes_per_entry=%.2f gen_per_s=%.3g lines=%" PRIu64 " digest=%016" PRIx64
              " threads=%u kernel=%s%s%s\n",
              f.job.c_str(), f.wall_s, f.cpu_s, f.peak_bytes / kMiB, f.stored, per_entry, rate,
              f.lines, f.digest, tessel::work_threads(),
              std::string(tessel::child_kernel_name(tessel::child_kernel())).c_str(),
              f.extra.empty() ? "" : " ", f.extra.c_str());
  std::fflush(stdout);
}

// ---- Interpreter jobs -------------------------------------------------------

struct RunOutcome {
  int status = 0;
  double seconds = 0;
  double cpu_s = 0;
  tessel::SearchStats stats;
  std::uint64_t lines = 0;
  std::string last_line;
};

// Runs one fresh interpreter with --silent on `input`; output goes into
// `digest`.
RunOutcome run_interpreter(const std::string& input, DigestBuf& digest,
                           const std::vector<std::string>& extra_args = {}) {
  std::istringstream in(input);
  std::ostream out(&digest);
  NullBuf null;
  std::ostream err(&null);
  std::vector<std::string> args = {"--silent"};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  const std::uint64_t lines_before = digest.lines();
  const auto t0 = Clock::now();
  const double c0 = cpu_seconds();
  tessel::Interpreter interpreter(in, out, err);
  RunOutcome r;
  r.status = interpreter.run(args);
  r.seconds = seconds_since(t0);
  r.cpu_s = cpu_seconds() - c0;
  r.stats = interpreter.session().stats();
  r.lines = digest.lines() - lines_before;
  r.last_line = digest.last_line();
  return r;
}

int search_job(const std::string& job, const std::string& input,
               const std::vector<std::string>& args = {}) {
  DigestBuf digest;
  const RunOutcome r = run_interpreter(input, digest, args);
  if (r.status != 0) {
    std::fprintf(stderr, "%s: the interpreter ended with status %d; last output line: %s\n",
                 job.c_str(), r.status, r.last_line.c_str());
    return 1;
  }
  Figures f;
  f.job = job;
  f.wall_s = r.seconds;
  f.cpu_s = r.cpu_s;
  f.peak_bytes = peak_rss_bytes();
  f.stored = r.stats.stored_peak;
  f.generated = r.stats.generated;
  f.lines = r.lines;
  f.digest = digest.digest();
  f.extra = "ranges=" + std::to_string(r.stats.ranges) + " prepared=" + std::to_string(r.stats.prepared);
  print_figures(f);
  return 0;
}

// 25 face turns with no pair the forward pruning rule forbids (so no two
// turns of one face cancel or merge); mt19937_64 is fully specified, so the
// scrambles are the same with every standard library.
std::vector<std::string> two_phase_scrambles() {
  std::mt19937_64 rng(20240604);
  std::vector<std::string> scrambles;
  for (int s = 0; s < 20; ++s) {
    std::string text;
    int previous = -1;
    for (int k = 0; k < 25; ++k) {
      int m;
      do {
        m = static_cast<int>(rng() % tessel::kFaceMoveCount);
      } while (previous >= 0 && tessel::is_forbidden_pair(m, previous, tessel::kForward));
      previous = m;
      text += tessel::all_rotations_s[static_cast<std::size_t>(m)];
      text += ' ';
    }
    scrambles.push_back(text);
  }
  return scrambles;
}

int count_moves(const std::string& line) {
  std::istringstream words(line);
  std::string w;
  int n = 0;
  while (words >> w)
    if (tessel::move_index(w) >= 0) ++n;
  return n;
}

int two_phase_job(bool verbose) {
  DigestBuf digest;
  std::vector<double> times, cpu_times;
  std::uint64_t stored_peak = 0, generated = 0;
  double total_length = 0;
  const auto t0 = Clock::now();
  const double c0 = cpu_seconds();
  for (const std::string& scramble : two_phase_scrambles()) {
    const RunOutcome r = run_interpreter(scramble + "solve_two_phase\n", digest);
    if (r.status != 0 || r.lines != 1) {
      std::fprintf(stderr, "J2P: status %d, %" PRIu64 " output lines for %s; last line: %s\n",
                   r.status, r.lines, scramble.c_str(), r.last_line.c_str());
      return 1;
    }
    const int length = count_moves(r.last_line);
    if (verbose)
      std::fprintf(stderr, "J2P %6.3f s (cpu %6.3f s) %2d moves  %s-> %s\n", r.seconds, r.cpu_s,
                   length, scramble.c_str(), r.last_line.c_str());
    times.push_back(r.seconds);
    cpu_times.push_back(r.cpu_s);
    total_length += length;
    stored_peak = std::max(stored_peak, r.stats.stored_peak);
    generated += r.stats.generated;
  }
  const double wall = seconds_since(t0);
  const double cpu = cpu_seconds() - c0;
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  };
  char extra[200];
  std::snprintf(extra, sizeof extra, "median_s=%.3f max_s=%.3f mean_len=%.2f median_cpu_s=%.3f",
                median(times), *std::max_element(times.begin(), times.end()),
                total_length / static_cast<double>(times.size()), median(cpu_times));
  Figures f;
  f.job = "J2P";
  f.wall_s = wall;
  f.cpu_s = cpu;
  f.peak_bytes = peak_rss_bytes();
  f.stored = stored_peak;
  f.generated = generated;
  f.lines = digest.lines();
  f.digest = digest.digest();
  f.extra = extra;
  print_figures(f);
  return 0;
}

// ---- JBATCH: last-layer orientation cases against one target ------------------

// 50 cases, each the target (first two layers and orientation markers)
// turned by a random product of sequences that keep the first two layers
// and of U turns; mt19937_64 makes them the same everywhere.
std::vector<std::string> batch_cases() {
  static const char* const kPieces[] = {"R U R' U R U2 R'",
                                        "R U2 R' U' R U' R'",
                                        "F R U R' U' F'",
                                        "F U R U' R' F'",
                                        "R U R' U' R' F R F'",
                                        "U",
                                        "U2",
                                        "U'"};
  std::mt19937_64 rng(20261209);
  std::vector<std::string> cases;
  for (int c = 0; c < 50; ++c) {
    std::string text = "init_empty_cube add_f2l add_corners_orientation add_edges_orientation ";
    const int pieces = 2 + static_cast<int>(rng() % 4);
    for (int k = 0; k < pieces; ++k) {
      text += kPieces[rng() % (sizeof kPieces / sizeof kPieces[0])];
      text += ' ';
    }
    text += "set_gen RUF set d 16 solve\n";
    cases.push_back(text);
  }
  return cases;
}

// The cases in one interpreter, then each in a fresh interpreter of its own
// (as one process per case would run them, less the start of the
// processes); both outputs must be the same.
int batch_job(bool verbose) {
  const std::vector<std::string> cases = batch_cases();
  std::string all;
  for (const std::string& c : cases) all += c;
  DigestBuf together;
  const RunOutcome r = run_interpreter(all, together);
  if (r.status != 0) {
    std::fprintf(stderr, "JBATCH: status %d; last line: %s\n", r.status, r.last_line.c_str());
    return 1;
  }
  DigestBuf apart;
  double apart_s = 0, apart_cpu = 0;
  std::uint64_t apart_generated = 0;
  for (const std::string& c : cases) {
    const RunOutcome one = run_interpreter(c, apart);
    if (one.status != 0) {
      std::fprintf(stderr, "JBATCH: status %d for %s", one.status, c.c_str());
      return 1;
    }
    if (verbose)
      std::fprintf(stderr, "JBATCH %6.3f s %5" PRIu64 " lines  %s", one.seconds, one.lines,
                   c.c_str());
    apart_s += one.seconds;
    apart_cpu += one.cpu_s;
    apart_generated += one.stats.generated;
  }
  if (apart.digest() != together.digest() || apart.lines() != together.lines()) {
    std::fprintf(stderr,
                 "JBATCH: one interpreter printed %" PRIu64
                 " lines, one interpreter per case %" PRIu64 ", not the same\n",
                 together.lines(), apart.lines());
    return 1;
  }
  char extra[200];
  std::snprintf(extra, sizeof extra,
                "cases=%zu apart_s=%.3f apart_cpu_s=%.3f apart_generated=%" PRIu64 " ratio=%.2f",
                cases.size(), apart_s, apart_cpu, apart_generated, r.seconds / apart_s);
  Figures f;
  f.job = "JBATCH";
  f.wall_s = r.seconds;
  f.cpu_s = r.cpu_s;
  f.peak_bytes = peak_rss_bytes();
  f.stored = r.stats.stored_peak;
  f.generated = r.stats.generated;
  f.lines = together.lines();
  f.digest = together.digest();
  f.extra = extra;
  print_figures(f);
  return 0;
}

// ---- LEVELS: plain step against generate_new_level ------------------------------

int level_count = 7;

struct BuiltLevels {
  std::vector<double> seconds;  // per level
  double total = 0;
  double cpu = 0;
};

BuiltLevels build(tessel::search_side& side, tessel::level_step step,
                  const tessel::LegalMoves& legal) {
  BuiltLevels b;
  const double c0 = cpu_seconds();
  for (int level = 1; level <= level_count; ++level) {
    const auto t0 = Clock::now();
    side.grow(legal, step);
    b.seconds.push_back(seconds_since(t0));
    b.total += b.seconds.back();
  }
  b.cpu = cpu_seconds() - c0;
  return b;
}

// Entry-for-entry comparison of the two stacks, level by level. Returns an
// empty string when identical, else what differs.
std::string compare_stacks(const tessel::search_side& plain, const tessel::search_side& real) {
  const PackedCube* p = plain.cache.cubes();
  const PackedCube* r = real.cache.cubes();
  char text[256];
  if (!(p[0] == r[0])) return "the roots differ";
  // Each level's [start, end), found from the newest back through the markers.
  const auto levels_of = [](const tessel::search_side& side) {
    std::vector<std::pair<std::size_t, std::size_t>> levels;
    for (std::size_t s = side.level_start, e = side.level_end; s > 0;) {
      levels.insert(levels.begin(), {s, e});
      e = s - 1;
      s = tessel::marker_value(side.cache.cubes()[e]);
    }
    return levels;
  };
  const auto plain_levels = levels_of(plain), real_levels = levels_of(real);
  if (plain_levels.size() != real_levels.size()) {
    std::snprintf(text, sizeof text, "plain has %zu levels, real %zu", plain_levels.size(),
                  real_levels.size());
    return text;
  }
  for (std::size_t l = 0; l < plain_levels.size(); ++l) {
    const auto [ps, pe] = plain_levels[l];
    const auto [rs, re] = real_levels[l];
    if (pe - ps != re - rs) {
      std::snprintf(text, sizeof text, "level %zu: plain has %zu entries, real %zu", l + 1, pe - ps,
                    re - rs);
      return text;
    }
    for (std::size_t k = 0; k < pe - ps; ++k) {
      if (!(p[ps + k] == r[rs + k])) {
        std::snprintf(text, sizeof text,
                      "level %zu entry %zu: plain %016" PRIx64 "%016" PRIx64 ", real %016" PRIx64
                      "%016" PRIx64,
                      l + 1, k, p[ps + k].hi, p[ps + k].lo, r[rs + k].hi, r[rs + k].lo);
        return text;
      }
    }
  }
  return {};
}

int levels_job(bool verbose) {
  using tessel::search_side;
  tessel::LegalMoves legal;  // the 18 face turns
  tessel::MemoryBudget budget;
  const tessel::Cube solved = tessel::full_cube();

  // The plain step first: its sort buffer is gone before the real pipeline
  // runs, and the peak is reset so the real pipeline's own peak is measured.
  search_side plain(solved, tessel::kForward, budget);
  const BuiltLevels plain_time = build(plain, tessel::bench::plain_generate_new_level, legal);
  const double process_peak_after_plain = peak_rss_bytes();

  const bool peak_reset = reset_peak_rss();
  const double rss_before_real = status_bytes("VmRSS");
  search_side real(solved, tessel::kForward, budget);
  const BuiltLevels real_time = build(real, tessel::generate_new_level, legal);
  const double hwm_after_real = status_bytes("VmHWM");

  const std::string difference = compare_stacks(plain, real);
  if (!difference.empty()) {
    std::fprintf(stderr, "LEVELS: the plain and the real level steps disagree: %s\n",
                 difference.c_str());
    return 2;
  }

  if (verbose) {
    for (int l = 0; l < level_count; ++l)
      std::fprintf(stderr, "LEVELS level %d: plain %8.3f s  real %8.3f s\n", l + 1,
                   plain_time.seconds[static_cast<std::size_t>(l)],
                   real_time.seconds[static_cast<std::size_t>(l)]);
  }

  // Memory of the real pipeline alone: the rise of the peak over what the
  // process held before it ran. Without a peak reset the whole process peak
  // is all there is.
  const bool own_peak = peak_reset && rss_before_real >= 0 && hwm_after_real >= 0;
  const double real_peak = own_peak ? hwm_after_real - rss_before_real : peak_rss_bytes();

  std::uint64_t digest = kFnvOffset;
  const PackedCube* cubes = real.cache.cubes();
  for (std::size_t i = 0; i < real.level_end; ++i) {
    const std::uint64_t words[2] = {cubes[i].lo, cubes[i].hi};
    unsigned char bytes[16];
    std::memcpy(bytes, words, sizeof bytes);
    fnv_add(digest, bytes, sizeof bytes);
  }

  char extra[240];
  std::snprintf(extra, sizeof extra,
                "plain_s=%.3f real_s=%.3f ratio=%.2f cpu_ratio=%.2f plain_peak_mib=%.1f "
                "real_peak=%s",
                plain_time.total, real_time.total, plain_time.total / real_time.total,
                plain_time.cpu / real_time.cpu, process_peak_after_plain / kMiB,
                own_peak ? "own" : "process");
  Figures f;
  f.job = "LEVELS";
  f.wall_s = real_time.total;
  f.cpu_s = real_time.cpu;
  f.peak_bytes = real_peak;
  f.stored = real.stored();
  f.generated = real.cache.generated();
  f.lines = static_cast<std::uint64_t>(level_count);
  f.digest = digest;
  f.extra = extra;
  print_figures(f);
  return 0;
}

int usage() {
  std::fputs(
      "usage: tessel_jobs JOB [-v] [--levels N] [--threads N]\n"
      "  JOB: J12 J13 J14 J14M J15 J16 JOLL J2P JBATCH LEVELS\n"
      "  -v:  details on standard error (J2P: each scramble; JBATCH: each case;\n"
      "       LEVELS: each level)\n"
      "  --levels N: LEVELS builds levels 1..N (default 7)\n"
      "  --threads N: build and join large levels on N threads (default: one per core)\n"
      "  --kernel NAME: make children with kernel NAME: portable, avx2, avx512\n"
      "       (default: the fastest this processor runs)\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string job;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-v") {
      verbose = true;
    } else if (arg == "--levels" && i + 1 < argc) {
      level_count = std::atoi(argv[++i]);
      if (level_count < 1 || level_count > 9) return usage();
    } else if (arg == "--threads" && i + 1 < argc) {
      const int threads = std::atoi(argv[++i]);
      if (threads < 1 || threads > 64) return usage();
      tessel::set_work_threads(static_cast<unsigned>(threads));
    } else if (arg == "--kernel" && i + 1 < argc) {
      tessel::ChildKernel kernel = tessel::ChildKernel::portable;
      if (!tessel::child_kernel_by_name(argv[++i], kernel)) return usage();
      if (!tessel::set_child_kernel(kernel)) {
        std::fprintf(stderr, "tessel_jobs: this processor does not run the %s kernel\n", argv[i]);
        return 2;
      }
    } else if (job.empty()) {
      job = arg;
    } else {
      return usage();
    }
  }
  if (job == "J12") return search_job(job, "L2 U F' R D2 B' L U' R2 F D' B set d 12 solve\n");
  if (job == "J13") return search_job(job, "R U F' set d 13 solve\n");
  if (job == "J14") return search_job(job, "F' D2 L U B' R2 D F L' U2 B D' R F2 set d 14 solve\n");
  if (job == "J14M")
    return search_job(job, "F' D2 L U B' R2 D F L' U2 B D' R F2 set d 14 solve\n",
                      {"--max-memory", "1G"});
  if (job == "J15")
    return search_job(job, "R U F' L2 D B' R2 U' F D2 L' B U2 R' F2 set d 15 solve\n");
  if (job == "J16")
    return search_job(job, "D' R2 F U' L B2 D R' F2 U B' L2 D2 R U2 F' set d 16 solve\n");
  if (job == "JOLL")
    return search_job(job,
                      "init_empty_cube add_f2l add_corners_orientation add_edges_orientation "
                      "R U R' U R U2 R' set_gen RUF set d 15 solve\n");
  if (job == "J2P") return two_phase_job(verbose);
  if (job == "JBATCH") return batch_job(verbose);
  if (job == "LEVELS") return levels_job(verbose);
  return usage();
}

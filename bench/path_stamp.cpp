// What the swap check adds to a scanned request whose answer may be cached: the path's stamp when the
// scan is sent and its check when the answer comes, for a file at several depths below the chroot
// directory; beside it one lstat of the whole path. bench_deep_paths measures deep paths through the daemon.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include <boost/filesystem/operations.hpp>

#include "service/sm_path_stamp.h"

namespace {

// A chroot folder of its own under /tmp with a file `depth` folders below it; removed at the end.
struct tree_t {
  explicit tree_t(int depth) {
    char pattern[] = "/tmp/qn-bench-stamp-XXXXXX";
    top = ::mkdtemp(pattern);
    file = top;
    for (int i = 0; i < depth; ++i) boost::filesystem::create_directory(file += "/folder" + std::to_string(i));
    std::ofstream(file += "/file.txt") << "clean";
  }
  ~tree_t() { boost::filesystem::remove_all(top); }
  std::string top, file;
};

void BM_stamp_and_check(benchmark::State& state) {
  tree_t const tree(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    sm_path_stamp_t const sent(tree.file, tree.top.size());
    benchmark::DoNotOptimize(sent.holds(tree.file));
  }
}
BENCHMARK(BM_stamp_and_check)->Arg(1)->Arg(3)->Arg(6);

void BM_lstat(benchmark::State& state) {
  tree_t const tree(static_cast<int>(state.range(0)));
  struct stat st;
  for (auto _ : state) benchmark::DoNotOptimize(::lstat(tree.file.c_str(), &st));
}
BENCHMARK(BM_lstat)->Arg(1)->Arg(3)->Arg(6);

}  // namespace

BENCHMARK_MAIN();

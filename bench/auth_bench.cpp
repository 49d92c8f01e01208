// Benchmark of one call of auth_from_password (table set-up, secret number,
// scalar multiplication, packing and formatting).

#include <benchmark/benchmark.h>

#include "auth/auth.h"

namespace {

void BM_AuthFromPassword(benchmark::State& state) {
  char out[halv::auth::kAuthBufferSize];
  for (auto _ : state) {
    const int rc = halv::auth::auth_from_password("abc", 3, out, sizeof out);
    benchmark::DoNotOptimize(rc);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_AuthFromPassword)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

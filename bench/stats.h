/* Order statistics of the benchmark driver, over samples sorted ascending. */
#ifndef BENCH_STATS_H
#define BENCH_STATS_H

/* Nearest-rank percentile: the smallest sample with at least p percent of
 * the samples at or below it. */
static inline double percentile(const double *sorted, int n, double p) {
    double exact = p * n / 100.0;
    long rank = (long)exact;
    if (rank < exact) rank += 1;
    if (rank < 1) rank = 1;
    if (rank > n) rank = n;
    return sorted[rank - 1];
}

static inline double median(const double *sorted, int n) {
    if (n % 2) return sorted[n / 2];
    return (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
}

#endif

// varma_kalman_loglik: the Kalman filter with its moments written to the
// host's utility files, and the likelihood from the predicted moments read
// back (varma_kalman.hpp).
#include <algorithm>
#include <cstdint>

#include "module/frame/host.hpp"
#include "module/frame/pool.hpp"
#include "module/frame/utility_files.hpp"
#include "module/varma/varma_kalman.hpp"

namespace mvtsa {
namespace {

// Utility files of one evaluation, in the order they are created.  The host
// contract has all four written although only the predicted moments are read.
enum FilterFile : int { kFilePredictedState, kFilePredictedCov, kFileFilteredState,
                        kFileFilteredCov };

// Steps of filter output buffered per utility-file write and read: at most
// 256, and no more than about 1 MiB of covariance matrices.
std::int64_t chunk_steps(std::int64_t ff) {
  return std::max<std::int64_t>(1, std::min<std::int64_t>(256, 131072 / ff));
}

// Writes each step's moments to the four utility files through StepWriters.
class FileSink final : public KalmanSink {
 public:
  FileSink(UtilityFiles* files, double* const* buf, std::int64_t f, std::int64_t chunk)
      : a_(files, kFilePredictedState, buf[0], f, chunk),
        p_(files, kFilePredictedCov, buf[1], f * f, chunk),
        att_(files, kFileFilteredState, buf[2], f, chunk),
        ptt_(files, kFileFilteredCov, buf[3], f * f, chunk) {}
  int predicted(std::int64_t, const double* a, const double* P, std::int64_t) override {
    if (int st = a_.put(a)) return st;
    return p_.put(P);
  }
  int filtered(std::int64_t, const double* att, const double* Ptt) override {
    if (int st = att_.put(att)) return st;
    return ptt_.put(Ptt);
  }
  int flush() {
    for (StepWriter* sw : {&a_, &p_, &att_, &ptt_})
      if (int st = sw->flush()) return st;
    return kStatusOk;
  }

 private:
  StepWriter a_, p_, att_, ptt_;
};

// The likelihood from the predicted moments read back from the utility files
// (rewound), chunk steps at a time through buf_a (chunk f) and buf_p
// (chunk f^2), by kalman_step_loglik for t = 1 .. T.  Returns 0, or 100
// (message 178, or a utility file).
int likelihood(UtilityFiles* files, const double* series, std::int64_t T, int k,
               std::int64_t f, std::int64_t chunk, double* buf_a, double* buf_p,
               double* scratch, KalmanSums* sums) {
  const std::int64_t ff = f * f;
  if (int st = files->rewind(kFilePredictedState)) return st;
  if (int st = files->rewind(kFilePredictedCov)) return st;
  for (std::int64_t t0 = 0; t0 < T; t0 += chunk) {
    const std::int64_t n = std::min<std::int64_t>(chunk, T - t0);
    if (int st = files->read(kFilePredictedState, buf_a, n * f)) return st;
    if (int st = files->read(kFilePredictedCov, buf_p, n * ff)) return st;
    for (std::int64_t i = 0; i < n; ++i)
      if (kalman_step_loglik(series + (t0 + i) * k, buf_a + i * f, buf_p + i * ff, k, f, scratch,
                             sums, t0 + i, -1) != kStatusOk)
        return fail_message(kMsgSingular);
  }
  return kStatusOk;
}

}  // namespace

int varma_kalman_loglik(double* loglik, double* logdet, double* quad, const double* series,
                        std::int64_t T, int k, const double* ar, int ar_count, int pmax,
                        const int* ar_lags, const double* ma, int ma_count, int qmax,
                        const int* ma_lags, const double* sigma_packed) {
  if (k < 1 || T < 0 || ar_count < 0 || ma_count < 0 || pmax < 0 || qmax < 0 ||
      (ar_count > 0 && !ar) || (ma_count > 0 && !ma) || !series || !sigma_packed)
    return kStatusRange;
  HostPool pool;
  if (!pool.ok()) return allocation_failed();

  const std::int64_t f = std::int64_t(k) * std::max(pmax, qmax + 1);
  const std::uint64_t uff = checked_mul(std::uint64_t(f), std::uint64_t(f));

  // Lag lists (1 .. count when none is given).
  int* arl = pool.get<int>(std::uint64_t(ar_count));
  int* mal = pool.get<int>(std::uint64_t(ma_count));
  if (!arl || !mal) return kStatusHostError;
  for (int i = 0; i < ar_count; ++i) arl[i] = ar_lags ? ar_lags[i] : i + 1;
  for (int i = 0; i < ma_count; ++i) mal[i] = ma_lags ? ma_lags[i] : i + 1;

  double* work = pool.get<double>(kalman_filter_work(k, pmax, qmax));
  double* scratch = pool.get<double>(kalman_step_work(k));
  // chunk buffers of the four files, in the order of FilterFile
  const std::int64_t chunk = chunk_steps(std::int64_t(uff));
  const std::uint64_t chunk_a = checked_mul(std::uint64_t(chunk), std::uint64_t(f));
  const std::uint64_t chunk_p = checked_mul(std::uint64_t(chunk), uff);
  double* buf[UtilityFiles::kCount] = {pool.get<double>(chunk_a), pool.get<double>(chunk_p),
                                       pool.get<double>(chunk_a), pool.get<double>(chunk_p)};
  if (!work || !scratch || !buf[0] || !buf[1] || !buf[2] || !buf[3]) return kStatusHostError;

  UtilityFiles files;
  if (int st = files.create_all()) return st;
  FileSink sink(&files, buf, f, chunk);
  const int st = kalman_filter(series, T, k, ar, ar_count, pmax, arl, ma, ma_count, qmax, mal,
                               sigma_packed, work, &sink);
  if (st == kKalmanDiverged) return kStatusMessage;  // without a message
  if (st == kKalmanCancelled) return cancelled();
  if (st != kStatusOk) return st;
  if (int fl = sink.flush()) return fl;

  KalmanSums sums;
  if (int lk = likelihood(&files, series, T, k, f, chunk, buf[0], buf[1], scratch, &sums))
    return lk;
  if (int cl = files.close_all()) return cl;
  *logdet = sums.D;
  *quad = sums.S;
  *loglik = -(sums.D + sums.S) / 2.0;
  return sums.det_status;
}

}  // namespace mvtsa


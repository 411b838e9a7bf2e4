// RAII guards over the host's utility files: a set of files created together
// and closed on every path, and a buffered writer of fixed-size steps.
#pragma once

#include <cstdint>

namespace mvtsa {

// `Count` utility files created in order with the standard descriptor; any
// still open are closed when the set goes out of scope.  Every operation
// returns 0, or reports the host's negative code through error_code_report
// and returns status 100.
class UtilityFiles {
 public:
  static constexpr int kCount = 4;
  UtilityFiles() = default;
  ~UtilityFiles();
  UtilityFiles(const UtilityFiles&) = delete;
  UtilityFiles& operator=(const UtilityFiles&) = delete;
  int create_all();
  int write(int file, const double* x, std::int64_t n);  // n doubles appended
  int read(int file, double* x, std::int64_t n);         // the next n doubles
  int rewind(int file);
  int close_all();

 private:
  void* handle_[kCount] = {nullptr, nullptr, nullptr, nullptr};
};

// Appends steps of `step` doubles to one utility file through a buffer of
// `capacity` steps, so that the file receives exactly the sequence of steps
// in order; flush() writes what is buffered.
class StepWriter {
 public:
  StepWriter(UtilityFiles* files, int file, double* buffer, std::int64_t step,
             std::int64_t capacity)
      : files_(files), file_(file), buf_(buffer), step_(step), capacity_(capacity) {}
  int put(const double* x);
  int flush();

 private:
  UtilityFiles* files_;
  int file_;
  double* buf_;
  std::int64_t step_;
  std::int64_t capacity_;
  std::int64_t used_ = 0;
};

}  // namespace mvtsa

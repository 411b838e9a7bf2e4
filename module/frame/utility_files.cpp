#include "module/frame/utility_files.hpp"

#include <cstring>

#include "abi/mcn_abi.h"
#include "module/frame/host.hpp"

namespace mvtsa {
namespace {

int failed(int rc) {
  error_code_report(rc);
  return kStatusMessage;
}

}  // namespace

UtilityFiles::~UtilityFiles() {
  for (void*& h : handle_)
    if (h) (void)utility_close(h);
}

int UtilityFiles::create_all() {
  std::uint8_t desc[sizeof(mcn_utility_descriptor)];
  utility_descriptor(desc);
  for (void*& h : handle_)
    if (int rc = utility_create(&h, desc); rc != MCN_UTILITY_OK) return failed(rc);
  return kStatusOk;
}

int UtilityFiles::write(int file, const double* x, std::int64_t n) {
  const int rc = utility_write(handle_[file], x, n * std::int64_t(sizeof(double)));
  return rc != MCN_UTILITY_OK ? failed(rc) : kStatusOk;
}

int UtilityFiles::read(int file, double* x, std::int64_t n) {
  const int rc = utility_read(handle_[file], x, n * std::int64_t(sizeof(double)));
  return rc != MCN_UTILITY_OK ? failed(rc) : kStatusOk;
}

int UtilityFiles::rewind(int file) {
  const int rc = utility_rewind(handle_[file]);
  return rc != MCN_UTILITY_OK ? failed(rc) : kStatusOk;
}

int UtilityFiles::close_all() {
  int status = kStatusOk;
  for (void*& h : handle_) {
    const int rc = utility_close(h);
    h = nullptr;
    if (rc != MCN_UTILITY_OK && status == kStatusOk) status = failed(rc);
  }
  return status;
}

int StepWriter::put(const double* x) {
  std::memcpy(buf_ + used_ * step_, x, sizeof(double) * std::size_t(step_));
  if (++used_ == capacity_) return flush();
  return kStatusOk;
}

int StepWriter::flush() {
  const std::int64_t n = used_;
  used_ = 0;
  return n ? files_->write(file_, buf_, n * step_) : kStatusOk;
}

}  // namespace mvtsa

// Utility files: real temporary files for the module's spill data, removed
// when closed.  Each operation returns MCN_UTILITY_OK or the negative code
// of the operation that failed (abi/mcn_abi.h).
#include <sys/mman.h>
#include <unistd.h>

#include "host/host_impl.hpp"

namespace mvts {
namespace detail {
namespace {

// The open file behind a handle, or null for a handle this host did not
// give or has closed.
UtilityFile* utility(HostImpl* h, void* handle) {
  auto it = h->files.open.find(handle);
  return it == h->files.open.end() ? nullptr : it->second.get();
}

// An anonymous memory-backed file where the system offers one (no directory
// entry, gone when closed); otherwise a temporary file in the temporary
// directory, removed on close or at process exit.  Null when neither opens.
std::FILE* open_temporary() {
  std::FILE* f = nullptr;
  const int fd = ::memfd_create("mvts-utility", MFD_CLOEXEC);
  if (fd >= 0) {
    f = ::fdopen(fd, "w+b");
    if (!f) ::close(fd);
  }
  if (!f) f = std::tmpfile();
  if (f) std::setvbuf(f, nullptr, _IOFBF, 1 << 16);
  return f;
}

}  // namespace

std::int32_t op_utility_create(void** handle, const std::uint8_t*) noexcept {
  HostImpl* h = H();
  *handle = nullptr;
  if (h->files.fails()) return MCN_UTILITY_CREATE_REFUSED;
  std::FILE* f = open_temporary();
  if (!f) return MCN_UTILITY_CREATE_FAILED;
  try {
    auto u = std::make_unique<UtilityFile>(f);
    f = nullptr;  // owned by u from here
    void* key = u.get();
    h->files.open.emplace(key, std::move(u));
    *handle = key;
  } catch (...) {
    if (f) std::fclose(f);
    return MCN_UTILITY_CREATE_FAILED;
  }
  return MCN_UTILITY_OK;
}

std::int32_t op_utility_rewind(void* handle, std::int32_t) noexcept {
  HostImpl* h = H();
  UtilityFile* u = utility(h, handle);
  if (!u || h->files.fails()) return MCN_UTILITY_REWIND_FAILED;
  return std::fseek(u->f, 0, SEEK_SET) == 0 ? MCN_UTILITY_OK : MCN_UTILITY_REWIND_FAILED;
}

std::int32_t op_utility_write(void* handle, const void* data, std::int64_t bytes) noexcept {
  HostImpl* h = H();
  UtilityFile* u = utility(h, handle);
  if (!u || bytes < 0 || h->files.fails()) return MCN_UTILITY_WRITE_FAILED;
  if (bytes == 0) return MCN_UTILITY_OK;
  return std::fwrite(data, 1, std::size_t(bytes), u->f) == std::size_t(bytes)
             ? MCN_UTILITY_OK
             : MCN_UTILITY_WRITE_FAILED;
}

std::int32_t op_utility_read(void* handle, void* buffer, std::int64_t bytes) noexcept {
  HostImpl* h = H();
  UtilityFile* u = utility(h, handle);
  if (!u || bytes < 0 || h->files.fails()) return MCN_UTILITY_READ_FAILED;
  if (bytes == 0) return MCN_UTILITY_OK;
  return std::fread(buffer, 1, std::size_t(bytes), u->f) == std::size_t(bytes)
             ? MCN_UTILITY_OK
             : MCN_UTILITY_READ_FAILED;
}

// Closes the file even when the close is chosen to fail: the failure is
// reported, and nothing is left open.
std::int32_t op_utility_close(void* handle, std::int32_t) noexcept {
  HostImpl* h = H();
  auto it = h->files.open.find(handle);
  if (it == h->files.open.end()) return MCN_UTILITY_CLOSE_FAILED;
  const bool fail = h->files.fails();
  h->files.open.erase(it);  // closes the file
  return fail ? MCN_UTILITY_CLOSE_FAILED : MCN_UTILITY_OK;
}

}  // namespace detail

std::int64_t Host::open_utility_files() const { return std::int64_t(impl_->files.open.size()); }

void Host::fail_utility_at(std::int64_t n) {
  impl_->files.fail_at = n == 0 ? 0 : impl_->files.ops + n;
}

}  // namespace mvts

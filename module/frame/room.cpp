#include "module/frame/room.hpp"

#include "module/frame/host.hpp"
#include "module/frame/sizes.hpp"

namespace mvtsa {

std::uint64_t doubles(std::int64_t count) {
  return checked_bytes(count < 0 ? 0 : std::uint64_t(count), sizeof(double));
}

int check_room(std::initializer_list<std::uint64_t> sizes) {
  std::uint64_t total = 0;
  for (std::uint64_t s : sizes) total = checked_add(total, s);
  if (total < kRoomCheckFrom) return kStatusOk;
  void* held[8] = {};
  std::size_t count = 0;
  int status = kStatusOk;
  for (std::uint64_t s : sizes) {
    if (count == sizeof held / sizeof held[0]) break;  // beyond eight: not checked
    void* p = host_alloc(s);
    if (!p) {
      status = allocation_failed();
      break;
    }
    held[count++] = p;
  }
  while (count > 0) host_free(held[--count]);
  return status;
}

}  // namespace mvtsa

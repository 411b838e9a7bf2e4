#include "module/frame/registration.hpp"

#include <cstring>

#include "module/frame/host.hpp"

namespace mvtsa {

void* answer_query(std::int32_t type, const Routine* rows, const mcn_registration* table,
                   std::int32_t count) {
  if (type != 1 && type != 2) return nullptr;
  mcn_allocator* a = host_table()->registration;
  const std::uint64_t size = type == 1 ? 16 : std::uint64_t(count) * 8 + 8;
  void* block = a->alloc(a, size, MCN_ALLOC_FLAGS);
  if (block == nullptr) {
    fatal_error(MCN_FATAL_REGISTRATION, 0);
    return nullptr;
  }
  auto* bytes = static_cast<unsigned char*>(block);
  if (type == 1) {
    std::memcpy(bytes, &count, 4);
    std::memcpy(bytes + 8, &table, 8);
  } else {
    for (std::int32_t i = 0; i < count; ++i) std::memcpy(bytes + 8 + 8 * i, &rows[i].entry, 8);
  }
  return block;
}

}  // namespace mvtsa

// VARMALIK: registered, not built yet in this build.
#include "module/frame/entries.hpp"

extern "C" std::int32_t varmalik_entry(void** /*args*/, const std::int32_t* /*given*/) noexcept {
  return mvtsa::run_entry([] { return mvtsa::not_built("VARMALIK"); });
}

// Module loading: the search path, finding a module by name, and the two
// services through which a module loads another one (the optimizer) and
// finds its export; and the service through which a module's long loops
// ask whether the call has been cancelled.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>

#include "host/host_impl.hpp"

namespace mvts {
namespace {

// The subdirectory of the library's directory where an install puts the
// modules (<libdir>/mvts), so that they stay out of the linker's directory.
constexpr const char* kInstalledModuleDir = "mvts";

// The directory of this library.
std::string own_directory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&own_directory), &info) && info.dli_fname) {
    std::string p = info.dli_fname;
    auto slash = p.rfind('/');
    if (slash != std::string::npos) return p.substr(0, slash);
  }
  return ".";
}

}  // namespace

std::vector<std::string> module_search_path() {
  std::vector<std::string> dirs;
  if (const char* env = std::getenv("MVTS_MODULE_PATH")) {
    std::string s = env;
    std::size_t start = 0;
    while (start <= s.size()) {
      std::size_t end = s.find(':', start);
      if (end == std::string::npos) end = s.size();
      if (end > start) dirs.push_back(s.substr(start, end - start));
      start = end + 1;
    }
  }
  const std::string own = own_directory();
  dirs.push_back(own);
  dirs.push_back(own + "/" + kInstalledModuleDir);
  return dirs;
}

namespace detail {

std::string find_module(const std::string& name, const std::string& first_dir) {
  if (name.find('/') != std::string::npos) return name;
  std::string file = name;
  if (file.size() < 3 || file.compare(file.size() - 3, 3, ".so") != 0) file += ".so";
  std::vector<std::string> dirs = module_search_path();
  if (!first_dir.empty()) dirs.insert(dirs.begin(), first_dir);  // next to the first module
  for (const std::string& d : dirs) {
    std::string p = d + "/" + file;
    if (::access(p.c_str(), R_OK) == 0) return p;
  }
  return {};
}

ModuleOpen open_module(HostImpl* h, const std::string& name, std::string* path,
                       void** handle) {
  *handle = nullptr;
  *path = find_module(name, h->modules.first_dir);
  if (path->empty()) return ModuleOpen::kNotFound;
  void* opened = ::dlopen(path->c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!opened) return ModuleOpen::kNotLoaded;
  h->modules.handles.push_back(opened);
  *handle = opened;
  return ModuleOpen::kOpened;
}

// Returns 0 with the handle, 1 for no name, 2 when no module of that name
// is found, 3 when it cannot be loaded.
std::int32_t op_module_load(void** handle_var, const char* name, std::int32_t, std::int32_t,
                            std::int32_t, std::int32_t) noexcept {
  *handle_var = nullptr;
  if (!name) return 1;
  try {
    std::string path;
    return std::int32_t(open_module(H(), name, &path, handle_var));
  } catch (...) {
    *handle_var = nullptr;
    return std::int32_t(ModuleOpen::kNotLoaded);  // no memory for the path or the list of handles
  }
}

// Returns 0 with the export, 1 for a handle this host did not load, 2 for a
// module without mcn_main.
std::int32_t op_entry_lookup(void* handle, void** function_var) noexcept {
  HostImpl* h = H();
  *function_var = nullptr;
  const std::vector<void*>& handles = h->modules.handles;
  if (std::find(handles.begin(), handles.end(), handle) == handles.end()) return 1;
  void* f = ::dlsym(handle, "mcn_main");
  if (!f) return 2;
  *function_var = f;
  return 0;
}

std::int32_t op_cancel_requested() noexcept {
  return H()->cancel.load(std::memory_order_relaxed) ? 1 : 0;
}

}  // namespace detail
}  // namespace mvts

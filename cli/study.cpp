#include "cli/study.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "cli/run.hpp"

namespace mvts::cli {

#ifdef MVTS_PYTHON_EXECUTABLE
namespace {

// The directory of this program, empty when it cannot be read.
std::string own_directory() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

// Where the Python package of this program lies.  Run from the build tree:
// the compiled part (build/python) and the sources (python/), fixed when it
// was built.  Installed as <prefix>/bin/mvts: the site directory of that
// prefix that holds the package (lib/python3/dist-packages under /usr,
// lib/python3.X/dist-packages elsewhere).  Empty when neither holds it.
std::string package_path() {
  const std::string dir = own_directory();
  if (dir == MVTS_BUILD_BIN_DIR) return MVTS_PYTHON_PATH;
  if (dir.empty()) return {};
  const std::string prefix = std::filesystem::path(dir).parent_path().string();
  const std::string sites = MVTS_PYTHON_SITE_DIRS;
  for (std::size_t start = 0; start < sites.size();) {
    std::size_t end = sites.find(':', start);
    if (end == std::string::npos) end = sites.size();
    const std::string site = prefix + "/" + sites.substr(start, end - start);
    std::error_code ec;
    if (std::filesystem::is_regular_file(site + "/mvts/__init__.py", ec)) return site;
    start = end + 1;
  }
  return {};
}

}  // namespace
#endif

int exec_study(const std::vector<std::string>& args) {
#ifdef MVTS_PYTHON_EXECUTABLE
  // The interpreter the extension was built for (MVTS_PYTHON names another
  // one) with this program's package first on PYTHONPATH.
  const char* chosen = std::getenv("MVTS_PYTHON");
  const std::string python = chosen && *chosen ? chosen : MVTS_PYTHON_EXECUTABLE;
  std::string path = package_path();
  if (const char* old = std::getenv("PYTHONPATH"); old && *old) {
    if (!path.empty()) path += ':';
    path += old;
  }
  if (!path.empty() && setenv("PYTHONPATH", path.c_str(), 1) != 0) {
    std::cerr << "mvts: cannot set PYTHONPATH: " << std::strerror(errno) << "\n";
    return kExitFailed;
  }
  std::vector<std::string> words = {python, "-m", "mvts.study_cli"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  std::cout.flush();
  execv(python.c_str(), argv.data());
  std::cerr << "mvts: cannot start " << python << " for mvts study: " << std::strerror(errno) << "\n";
  return kExitFailed;
#else
  (void)args;
  std::cerr << "mvts: mvts study needs the Python package, which this build does not have "
               "(it needs python3-dev, python3-numpy and pybind11; see the configure messages)\n";
  return kExitFailed;
#endif
}

}  // namespace mvts::cli

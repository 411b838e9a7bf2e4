#include "cli/study.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "cli/run.hpp"

namespace mvts::cli {

int exec_study(const std::vector<std::string>& args) {
#ifdef MVTS_PYTHON_EXECUTABLE
  // The interpreter the extension was built for and the package's two
  // directories (the compiled part in the build tree, the Python sources in
  // the source tree), fixed when this program was built.  MVTS_PYTHON names
  // another interpreter.
  const char* chosen = std::getenv("MVTS_PYTHON");
  const std::string python = chosen && *chosen ? chosen : MVTS_PYTHON_EXECUTABLE;
  std::string path = MVTS_PYTHON_PATH;
  if (const char* old = std::getenv("PYTHONPATH"); old && *old) path += std::string(":") + old;
  if (setenv("PYTHONPATH", path.c_str(), 1) != 0) {
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

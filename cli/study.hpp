// `mvts study`: Monte-Carlo studies run by the Python package (mvts.study,
// on Dask), reached from the command line.
#pragma once

#include <string>
#include <vector>

namespace mvts::cli {

// Replaces this process by `python3 -m mvts.study_cli ARGS...` with the
// package of this build on PYTHONPATH, so that signals (Ctrl-C) and the exit
// status are the study's own.  Returns only when that cannot be done, with
// the exit status to use after saying why on standard error.
int exec_study(const std::vector<std::string>& args);

}  // namespace mvts::cli

// The command line's sources (all but main.cpp), compiled into this test
// executable so that the parser, formatter and runner can be tested directly.
#include "cli/format.cpp"
#include "cli/help.cpp"
#include "cli/interrupt.cpp"
#include "cli/man.cpp"
#include "cli/matrix_file.cpp"
#include "cli/number_text.cpp"
#include "cli/parse.cpp"
#include "cli/printable.cpp"
#include "cli/run.cpp"
#include "cli/stats.cpp"
#include "cli/summary.cpp"

// The command line's parser, compiled into the fuzz targets.
#include "cli/matrix_file.cpp"
#include "cli/number_text.cpp"
#include "cli/parse.cpp"
#include "cli/printable.cpp"
#include "cli/summary.cpp"

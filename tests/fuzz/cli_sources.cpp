// The command line's parser, compiled into the fuzz targets.
#include "cli/parse.cpp"
#include "cli/summary.cpp"

// mvts: the command line.  (Placeholder until the command line lands.)
#include <cstdio>

#include "host/host.hpp"

int main() {
  mvts::Session s;
  for (const auto& f : s.functions()) std::printf("%s\n", f.name.c_str());
  return 0;
}

// What the command line knows about the registered functions: the names of
// their inputs and outputs, what each input means and its default.  The
// module's registration table stays the authority on which functions exist
// and how many inputs and outputs they have; this catalogue only names them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mvts::cli {

struct InputDoc {
  const char* name;
  const char* meaning;
  const char* fallback;  // what an omitted input means
};

struct OutputDoc {
  const char* name;
  const char* meaning;
};

struct FunctionDoc {
  const char* name;  // upper case, as registered
  const char* summary;
  std::vector<InputDoc> inputs;
  std::vector<OutputDoc> outputs;
};

// The twelve functions, in the order a reader meets them.
const std::vector<FunctionDoc>& catalog();

// The entry for a function name, case-insensitive; null when unknown.
const FunctionDoc* find_doc(std::string_view name);

// Case-insensitive comparison of ASCII names.
bool same_name(std::string_view a, std::string_view b);

}  // namespace mvts::cli

// What the front ends know about the registered functions: the names of
// their inputs and outputs, what each input means and its default.  The
// command line's `help` and `list` and the Python package's signatures and
// docstrings read this one catalogue.  The module's registration table stays
// the authority on which functions exist and how many inputs and outputs
// they have; this catalogue only names them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mvts {

// The fallback of an input that may not be omitted.
inline constexpr char kRequired[] = "required";

struct InputDoc {
  const char* name;
  const char* meaning;
  const char* fallback;  // what an omitted input means, or kRequired
};

// What an output is, whatever its size in a given call: a front end that has
// vectors and scalars (Python) shows it as one.
enum class OutputShape {
  kMatrix,  // rows x cols
  kVector,  // n x 1: a series, a coefficient vector, a list of values
  kScalar,  // 1 x 1
};

struct OutputDoc {
  const char* name;
  const char* meaning;
  OutputShape shape = OutputShape::kMatrix;
  // Non-null for an output that the module gives as a 1 x 1 missing value
  // when the model lacks that part: the condition ("there is no AR part").
  // The command line shows the missing value; Python returns None.
  const char* absent = nullptr;
};

struct FunctionDoc {
  const char* name;  // upper case, as registered
  const char* summary;
  std::vector<InputDoc> inputs;
  std::vector<OutputDoc> outputs;
};

// The functions of both modules: the twelve, in the order a reader meets
// them, then the statistics module's.
const std::vector<FunctionDoc>& catalog();

// The statistics module's functions by family (host/catalog_stats.cpp).
std::vector<FunctionDoc> farma_statistics_docs();
std::vector<FunctionDoc> varma_statistics_docs();
std::vector<FunctionDoc> sample_statistics_docs();

// The entry for a function name, case-insensitive; null when unknown.
const FunctionDoc* find_doc(std::string_view name);

// Case-insensitive comparison of ASCII names.
bool same_name(std::string_view a, std::string_view b);

}  // namespace mvts

// Argument services: the matrices of a call as modules read them, the
// results they create, the context record and the clock seed; the argument
// blocks built from values, and the input blamed for a failed check.
#include <chrono>
#include <cmath>

#include "host/catalog.hpp"
#include "host/host_impl.hpp"

namespace mvts {
namespace detail {

// ---- arguments and results ---------------------------------------------------

std::int32_t op_get_arg_matrix(void* arg, std::int32_t* rows, std::int32_t* cols,
                               std::int32_t* type, double** data) noexcept {
  if (Host* host = t_active) host->impl()->call.note_read(arg);
  auto* a = static_cast<HostArg*>(arg);
  if (!a) {
    *rows = *cols = 0;
    *type = -1;
    *data = nullptr;
    return 1;
  }
  *rows = a->rows;
  *cols = a->cols;
  *type = a->type;
  *data = a->data;
  return 0;
}

double* op_create_result(std::int32_t output, std::int32_t rows, std::int32_t cols) noexcept {
  HostImpl* h = H();
  CallState& call = h->call;
  MemoryBook& memory = h->memory;
  if (!call.running || output < 1 || output > call.output_count || rows < 0 || cols < 0) {
    call.pending = MCN_ERROR_BAD_OUTPUT;
    return nullptr;
  }
  const std::uint64_t n = std::uint64_t(rows) * std::uint64_t(cols);
  auto& slot = call.current.outputs[std::size_t(output) - 1];
  const std::uint64_t old = slot ? slot->data.size() * sizeof(double) : 0;
  memory.in_use -= old;  // the new value replaces the old one
  memory.result_bytes -= old;
  slot.reset();
  if (n > memory.limit / sizeof(double) || !memory.fits(n * sizeof(double)) ||
      memory.should_fail()) {
    call.pending = MCN_ERROR_OUT_OF_MEMORY;
    return nullptr;
  }
  try {
    slot.emplace();
    slot->rows = rows;
    slot->cols = cols;
    slot->data.reserve(std::size_t(n));
    advise_huge_pages(slot->data.data(), n * sizeof(double));
    slot->data.resize(std::size_t(n), 0.0);
    // An empty result still gets a valid address.
    if (slot->data.empty()) slot->data.reserve(1);
  } catch (...) {
    slot.reset();
    call.pending = MCN_ERROR_OUT_OF_MEMORY;
    return nullptr;
  }
  memory.in_use += n * sizeof(double);
  memory.result_bytes += n * sizeof(double);
  return slot->data.data();
}

std::int32_t op_has_missing(void* arg) noexcept {
  if (Host* host = t_active) host->impl()->call.note_read(arg);
  auto* a = static_cast<HostArg*>(arg);
  if (!a || !a->data || a->type >= 0) return 0;
  for (double x : a->values) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, 8);
    if ((bits & 0x7FF0000000000000ULL) == 0x7FF0000000000000ULL) return 1;
  }
  return 0;
}

void* op_context_block() noexcept { return H()->context; }

std::int32_t op_result_complete(std::int32_t) noexcept { return 0; }

std::uint32_t op_clock_seed() noexcept {
  HostImpl* h = H();
  if (h->fixed_clock) return h->fixed_clock;
  auto ns = std::chrono::steady_clock::now().time_since_epoch().count() ^
            std::chrono::system_clock::now().time_since_epoch().count();
  auto v = static_cast<std::uint64_t>(ns);
  v ^= v >> 29;
  v *= 0xBF58476D1CE4E5B9ULL;
  v ^= v >> 32;
  // A seed in 1 .. 2^31 - 2, so the generator never sits at zero.
  return static_cast<std::uint32_t>(v % 2147483646u) + 1u;
}

// ---- the argument blamed for a failed check ------------------------------------

namespace {

// Statuses that an argument check returns without a message: no value (2),
// not a vector (6), not positive definite (8), not symmetric (10), out of
// range (11), character (13), not a scalar (15), missing values (17), a
// whole number too large (18).
bool is_argument_status(int status) {
  switch (status) {
    case 2: case 6: case 8: case 10: case 11: case 13: case 15: case 17: case 18: return true;
    default: return false;
  }
}

}  // namespace

// Entry points check their inputs in order, reading each through
// get_arg_matrix and has_missing, so the input read last is the one whose
// check failed.  One exception: a required input that was omitted is never
// read.  So status 2 (no value) when the last input read holds a value, and
// status 17 (missing values) when it holds none, mean the first omitted
// required input after it (the catalogue says which inputs are required;
// for a function it does not describe, any omitted input may be).  Without
// one, status 17 is the last input's own: a value refused as missing
// although it holds none (a UCMSIM cycle without a period, or with a period
// below 2).
int failed_argument(const CallResult& r, int last_read, const std::vector<void*>& slots,
                    int max_inputs, std::string_view function) {
  bool about_argument = is_argument_status(r.status);
  if (r.status != 0 && !about_argument)
    for (const Message& m : r.messages)
      if (!m.note && message_names_argument(m.number)) about_argument = true;
  if (!about_argument) return 0;
  auto arg = [&](int i) -> const HostArg* {  // 1-based; null when omitted
    return std::size_t(i) <= slots.size() ? static_cast<const HostArg*>(slots[std::size_t(i) - 1])
                                          : nullptr;
  };
  auto no_value = [&](int i) { return arg(i) && !arg(i)->data; };
  auto holds_missing = [&](int i) {
    const HostArg* a = arg(i);
    if (!a || a->type >= 0) return false;
    for (double x : a->values)
      if (!std::isfinite(x)) return true;
    return false;
  };
  const FunctionDoc* doc = find_doc(function);
  auto required = [&](int i) {
    if (!doc) return true;
    return std::size_t(i) <= doc->inputs.size() &&
           std::string_view(doc->inputs[std::size_t(i) - 1].fallback) == kRequired;
  };
  const bool read_is_blameless = last_read == 0 || (r.status == 2 && !no_value(last_read)) ||
                                 (r.status == 17 && !holds_missing(last_read));
  if ((r.status == 2 || r.status == 17) && read_is_blameless) {
    for (int i = last_read + 1; i <= max_inputs; ++i)
      if (!arg(i) && required(i)) return i;
    return r.status == 17 ? last_read : 0;
  }
  return last_read;
}

// Message 352 is issued by the check of the input read last, against the
// dimension that the given inputs before it fixed; every one of those
// passed the same comparison, so the first of them is the one to name.
std::string disagreement_text(const CallState& call, const std::string& plain) {
  if (!call.slots || call.last_read < 2) return plain;
  const std::vector<void*>& slots = *call.slots;
  int other = 0;
  for (int i = 1; i < call.last_read && std::size_t(i) <= slots.size() && other == 0; ++i) {
    const auto* a = static_cast<const HostArg*>(slots[std::size_t(i) - 1]);
    if (a && a->data && a->type < 0) other = i;
  }
  if (other == 0) return plain;
  const FunctionDoc* doc = find_doc(call.function);
  auto label = [&](int i) {
    std::string s = "argument " + std::to_string(i);
    if (doc && std::size_t(i) <= doc->inputs.size())
      s += std::string(" (`") + doc->inputs[std::size_t(i) - 1].name + "`)";
    return s;
  };
  std::string text = plain;
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text + ": " + label(call.last_read) + " and " + label(other) +
         ", which fixed the dimension before it.";
}

}  // namespace detail

// ---- argument blocks ---------------------------------------------------------------

struct ArgumentBlock::Held {
  detail::HostArg arg;
};

// Copies a const value, moves one handed over (std::forward on the members).
template <class V>
void ArgumentBlock::hold(std::size_t slot, V&& v) {
  if (v.kind == Value::Kind::kOmitted) return;
  auto h = std::make_unique<Held>();
  detail::HostArg& a = h->arg;
  if (v.kind == Value::Kind::kNumeric) {
    a.rows = v.m.rows;
    a.cols = v.m.cols;
    a.values = std::forward<V>(v).m.data;
    a.values.reserve(1);
    a.data = a.values.data();
  } else if (v.kind == Value::Kind::kText) {
    a.rows = 1;
    a.cols = 1;
    a.type = static_cast<std::int32_t>(v.text.size());
    a.text = std::forward<V>(v).text;
    a.values.assign(1, 0.0);  // the address of the characters is not null
    a.data = a.values.data();
  }
  slots_[slot] = &a;
  held_.push_back(std::move(h));
}

ArgumentBlock::ArgumentBlock(const std::vector<Value>& args)
    : slots_(args.size(), nullptr), given_(static_cast<std::int32_t>(args.size())) {
  for (std::size_t i = 0; i < args.size(); ++i) hold(i, args[i]);
}

ArgumentBlock::ArgumentBlock(std::vector<Value>&& args)
    : slots_(args.size(), nullptr), given_(static_cast<std::int32_t>(args.size())) {
  for (std::size_t i = 0; i < args.size(); ++i) hold(i, std::move(args[i]));
}

ArgumentBlock::~ArgumentBlock() = default;

void Host::set_clock_seed(std::uint32_t seed) { impl_->fixed_clock = seed; }

}  // namespace mvts

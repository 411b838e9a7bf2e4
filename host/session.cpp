// The session API: the host's service table, attaching and loading modules,
// reading their registration records, and calling a registered function.
#include <dlfcn.h>

#include <cctype>
#include <stdexcept>

#include "host/host_impl.hpp"

namespace mvts {
namespace detail {

constinit thread_local Host* t_active = nullptr;
constinit thread_local const mcn_host_table* t_table = nullptr;

}  // namespace detail

namespace {

using detail::t_active;
using detail::t_table;

// Hands `table` (null: none) to every module attached to `h`, on this thread.
void hand_table(const HostImpl* h, const mcn_host_table* table) {
  for (mcn_main_fn main : h->modules.mains) (void)main(table, nullptr);
  t_table = table;
}

// A calling form of abi/mcn_abi.h made noexcept: a host function converts to
// it only when its signature is that of the form and it cannot throw.
template <class Form>
struct NoexceptForm;
template <class R, class... A>
struct NoexceptForm<R (*)(A...)> {
  using type = R (*)(A...) noexcept;
};

template <class Form>
void* service_address(typename NoexceptForm<Form>::type f) {
  return reinterpret_cast<void*>(f);
}

// Every row of the service list names its own table cell.
struct Cell {
  int group;
  int slot;
};
constexpr Cell kCells[] = {
#define MVTS_SERVICE_CELL(name, group, slot, form) {group, slot},
    MCN_SERVICE_LIST(MVTS_SERVICE_CELL)
#undef MVTS_SERVICE_CELL
};
constexpr bool cells_distinct_and_in_range() {
  for (const Cell& c : kCells) {
    if (c.group < 0 || c.group >= MCN_GROUP_COUNT || c.slot < 0 || c.slot >= MCN_SLOT_COUNT)
      return false;
    int same = 0;
    for (const Cell& d : kCells) same += c.group == d.group && c.slot == d.slot;
    if (same != 1) return false;
  }
  return true;
}
static_assert(cells_distinct_and_in_range());

}  // namespace

// ---------------------------------------------------------------------------
// HostImpl

namespace detail {

ServiceTable::ServiceTable() {
#define MVTS_PLACE_SERVICE(name, group, slot, form) \
  cells[group][slot] = service_address<form>(op_##name);
  MCN_SERVICE_LIST(MVTS_PLACE_SERVICE)
#undef MVTS_PLACE_SERVICE
  for (int g = 0; g < MCN_GROUP_COUNT; ++g) groups[g] = cells[g];
  work.alloc = work_alloc;
  work.release = work_free;
  registration.alloc = registration_alloc;
  registration.release = registration_free;
  table.groups = groups;
  table.used = used;
  table.work = &work;
  table.registration = &registration;
}

}  // namespace detail

HostImpl::HostImpl() {
  // The host word that fitting functions hand to the optimizer.
  void* self = this;
  std::memcpy(context + MCN_CONTEXT_HOST_WORD, &self, sizeof self);
}

// The memory book frees the blocks still live and the utility files close
// as their members go.  Modules stay mapped: a module may have handed out
// addresses (its static records, entry points) that outlive this host in
// the process.
HostImpl::~HostImpl() = default;

// ---------------------------------------------------------------------------
// Host

// Makes `host` the one whose operations and table serve this thread for the
// length of a call or a load, then puts back what was there before: a call
// never leaves its table behind in a module, and a host called while another
// one's call runs on the same thread hands that one back intact.
namespace {
class CallScope {
 public:
  explicit CallScope(Host* host)
      : host_(host), prev_host_(t_active), prev_table_(t_table) {
    t_active = host;
    hand_table(host->impl(), host->table());
  }
  ~CallScope() {
    hand_table(host_->impl(), prev_table_);
    t_active = prev_host_;
  }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

 private:
  Host* host_;
  Host* prev_host_;
  const mcn_host_table* prev_table_;
};
}  // namespace

Host::Host() : impl_(std::make_unique<HostImpl>()) {}

Host::~Host() {
  if (t_active == this) t_active = nullptr;
  if (t_table == &impl_->services.table) hand_table(impl_.get(), nullptr);
}

void Host::activate() {
  t_active = this;
  hand_table(impl_.get(), &impl_->services.table);
}
Host* Host::active() { return t_active; }

const mcn_host_table* Host::table() const { return &impl_->services.table; }
unsigned char* Host::context() const { return impl_->context; }

bool Host::attach(mcn_main_fn main, std::string* error) {
  if (!main) {
    if (error) *error = "no module export to attach";
    return false;
  }
  // The scope hands the table to the new module too, and takes it back.
  impl_->modules.mains.push_back(main);
  bool ok;
  {
    CallScope scope(this);
    ok = register_functions(main, error);
  }
  if (!ok) impl_->modules.mains.pop_back();
  return ok;
}

bool Host::register_functions(mcn_main_fn main, std::string* error) {
  auto* info = static_cast<const mcn_image_info*>(main(&impl_->services.table, nullptr));
  if (!info || std::memcmp(info->marker, MCN_IMAGE_MARKER, MCN_IMAGE_MARKER_LENGTH) != 0 ||
      info->magic != MCN_IMAGE_MAGIC) {
    if (error) *error = "the module's image-information record is not valid";
    return false;
  }
  auto* desc = static_cast<const mcn_module_descriptor*>(info->descriptors[0]);
  if (!desc || !desc->query) {
    if (error) *error = "the module has no module descriptor";
    return false;
  }
  auto* q1 = static_cast<const mcn_query_table*>(desc->query(1));
  auto* q2 = static_cast<void* const*>(desc->query(2));
  // The answers are the host's to give back once their rows are copied: they
  // hold nothing of the session's memory budget afterwards.
  mcn_allocator* answers = &impl_->services.registration;
  auto give_back = [&] {
    if (q1)
      answers->release(answers, const_cast<mcn_query_table*>(q1), MCN_RELEASE_WORD_A,
                       MCN_RELEASE_WORD_B);
    if (q2) answers->release(answers, const_cast<void**>(q2), MCN_RELEASE_WORD_A, MCN_RELEASE_WORD_B);
  };
  if (!q1 || !q2) {
    give_back();
    if (error) *error = "the module did not answer its registration query";
    return false;
  }
  const std::size_t before = impl_->modules.functions.size();
  for (int i = 0; i < q1->count; ++i) {
    const mcn_registration& r = q1->table[i];
    FunctionInfo f;
    f.name.assign(r.name, strnlen(r.name, sizeof r.name));
    // A name that a module loaded earlier registers would never be called:
    // the module is refused whole.
    if (find(f.name)) {
      impl_->modules.functions.resize(before);
      give_back();
      if (error) *error = "the module registers " + f.name + ", which a loaded module registers";
      return false;
    }
    f.max_inputs = r.max_inputs;
    f.outputs = int(r.outputs_word - MCN_OUTPUTS_BASE);
    f.entry = reinterpret_cast<mcn_entry_fn>(q2[1 + i]);
    impl_->modules.functions.push_back(std::move(f));
  }
  give_back();
  return true;
}

bool Host::load(const std::string& name_or_path, std::string* error) {
  std::string path;
  void* handle = nullptr;
  switch (detail::open_module(impl_.get(), name_or_path, &path, &handle)) {
    case detail::ModuleOpen::kOpened: break;
    case detail::ModuleOpen::kNotFound:
      if (error) *error = "module " + name_or_path + " not found (searched MVTS_MODULE_PATH, "
                          "the host library's directory and its subdirectory mvts)";
      return false;
    case detail::ModuleOpen::kNotLoaded:
      if (error) *error = std::string("cannot load ") + path + ": " + ::dlerror();
      return false;
  }
  auto main = reinterpret_cast<mcn_main_fn>(::dlsym(handle, "mcn_main"));
  if (!main) {
    if (error) *error = path + " does not export mcn_main";
    return false;
  }
  if (impl_->modules.first_dir.empty()) {
    auto slash = path.rfind('/');
    impl_->modules.first_dir = slash == std::string::npos ? "." : path.substr(0, slash);
  }
  return attach(main, error);
}

const std::vector<FunctionInfo>& Host::functions() const { return impl_->modules.functions; }

const FunctionInfo* Host::find(std::string_view name) const {
  for (const FunctionInfo& f : impl_->modules.functions) {
    if (f.name.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i)
      same = std::toupper(static_cast<unsigned char>(name[i])) == f.name[i];
    if (same) return &f;
  }
  return nullptr;
}

namespace {

CallResult unknown_function() {
  CallResult r;
  r.status = -1;
  return r;
}

}  // namespace

CallResult Host::call(std::string_view name, const std::vector<Value>& args) {
  const FunctionInfo* f = find(name);
  if (!f) return unknown_function();
  ArgumentBlock block(args);
  return run(*f, block);
}

CallResult Host::call(std::string_view name, std::vector<Value>&& args) {
  const FunctionInfo* f = find(name);
  if (!f) return unknown_function();
  ArgumentBlock block(std::move(args));
  return run(*f, block);
}

void Host::cancel() { impl_->cancel.store(true, std::memory_order_relaxed); }

CallResult Host::run(const FunctionInfo& f, ArgumentBlock& block) {
  CallScope scope(this);
  detail::CallState& call = impl_->call;
  impl_->cancel.store(false, std::memory_order_relaxed);
  call.begin(f, block.slot_list());
  call.current.status = f.entry(block.slots(), block.given());
  call.current.argument = detail::failed_argument(call.current, call.last_read,
                                                  block.slot_list(), f.max_inputs, f.name);
  call.end();
  impl_->memory.hand_over_results();
  CallResult result = std::move(call.current);
  call.current = CallResult{};
  return result;
}

const CallResult& Host::current() const { return impl_->call.current; }

Session::Session() {
  std::string error;
  if (!load("orvmvtsa", &error)) throw std::runtime_error(error);
  if (!load("orvmvtst", &error)) throw std::runtime_error(error);
}

}  // namespace mvts

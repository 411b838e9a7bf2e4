// mvts._core: the Python extension over the host's call API.
//
// It converts argument objects to host values (one copy, straight into the
// row-major double block the module reads), calls the registered function
// with the interpreter lock released and the session's lock held, and hands
// the created outputs to numpy without copying them (each array owns the
// host's result block through a capsule).  Naming, reshaping into tuples,
// errors and warnings are the Python layer's (python/mvts/__init__.py).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/catalog.hpp"
#include "host/host.hpp"

namespace py = pybind11;

namespace {

// mvts.EMPTY, registered by the package when it is imported.
PyObject* g_empty = nullptr;
// numpy.asarray, looked up once.
PyObject* g_asarray = nullptr;

constexpr std::int64_t kMaxDimension = std::numeric_limits<std::int32_t>::max();

[[noreturn]] void argument_error(PyObject* kind, const std::string& function, std::size_t slot,
                                 const std::string& problem) {
  const mvts::FunctionDoc* doc = mvts::find_doc(function);
  std::string name = doc && slot < doc->inputs.size() ? doc->inputs[slot].name
                                                      : "argument " + std::to_string(slot + 1);
  std::string lower = function;
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  PyErr_SetString(kind, (lower + "(): " + name + ": " + problem).c_str());
  throw py::error_already_set();
}

// IEEE binary16 to double (numpy's float16).
double half_to_double(std::uint16_t h) {
  const int sign = h >> 15, exponent = (h >> 10) & 0x1F, mantissa = h & 0x3FF;
  double v;
  if (exponent == 0)
    v = std::ldexp(double(mantissa), -24);  // subnormal: m * 2^-24
  else if (exponent == 31)
    v = mantissa ? std::numeric_limits<double>::quiet_NaN() : HUGE_VAL;
  else
    v = std::ldexp(double(mantissa | 0x400), exponent - 25);  // (1024 + m) * 2^(e - 25)
  return sign ? -v : v;
}

// numpy's float16, read as its bits.
struct Half {
  std::uint16_t bits;
};

// Copies a rows x cols strided block of T into `out`, row by row, as doubles.
template <class T>
void gather(const char* base, std::int64_t rows, std::int64_t cols, std::int64_t row_stride,
            std::int64_t col_stride, double* out) {
  for (std::int64_t i = 0; i < rows; ++i) {
    const char* p = base + i * row_stride;
    for (std::int64_t j = 0; j < cols; ++j, p += col_stride) {
      T v;
      std::memcpy(&v, p, sizeof v);  // numpy arrays need not be aligned
      if constexpr (std::is_same_v<T, Half>)
        *out++ = half_to_double(v.bits);
      else
        *out++ = static_cast<double>(v);
    }
  }
}

// An object array: each element through float(); None is a missing value.
void gather_objects(const char* base, std::int64_t rows, std::int64_t cols, std::int64_t row_stride,
                    std::int64_t col_stride, double* out, const std::string& function,
                    std::size_t slot) {
  for (std::int64_t i = 0; i < rows; ++i) {
    const char* p = base + i * row_stride;
    for (std::int64_t j = 0; j < cols; ++j, p += col_stride) {
      PyObject* item;
      std::memcpy(&item, p, sizeof item);
      if (item == Py_None) {
        *out++ = std::numeric_limits<double>::quiet_NaN();
        continue;
      }
      const double v = PyFloat_AsDouble(item);
      if (v == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();
        argument_error(PyExc_TypeError, function, slot,
                       std::string("an element of type ") + Py_TYPE(item)->tp_name +
                           " is not a number");
      }
      *out++ = v;
    }
  }
}

// A numeric array (any dimension up to 2) as a row-major host matrix: one
// copy.  A 0-d array is 1 x 1, a 1-d array of n elements a column n x 1.
mvts::Value array_value(py::array a, const std::string& function, std::size_t slot) {
  const int ndim = int(a.ndim());
  if (ndim > 2)
    argument_error(PyExc_ValueError, function, slot,
                   "an array of " + std::to_string(ndim) + " dimensions (at most 2 are accepted)");
  const std::int64_t rows = ndim == 0 ? 1 : a.shape(0);
  const std::int64_t cols = ndim == 2 ? a.shape(1) : 1;
  const std::int64_t row_stride = ndim == 0 ? 0 : a.strides(0);
  const std::int64_t col_stride = ndim == 2 ? a.strides(1) : 0;
  if (rows > kMaxDimension || cols > kMaxDimension)
    argument_error(PyExc_ValueError, function, slot, "a dimension exceeds 2147483647");

  py::dtype dt = a.dtype();
  if (!dt.attr("isnative").cast<bool>()) {
    // A byte order other than the machine's: numpy swaps it (a second copy,
    // for this rare input only).
    a = py::array(a.attr("astype")(dt.attr("newbyteorder")("=")));
    dt = a.dtype();
  }
  const char kind = dt.kind();
  const auto size = std::int64_t(dt.itemsize());

  mvts::Matrix m;
  m.rows = std::int32_t(rows);
  m.cols = std::int32_t(cols);
  m.data.resize(std::size_t(rows) * std::size_t(cols));
  const char* base = static_cast<const char*>(a.data());
  double* out = m.data.data();
  if (m.data.empty()) return mvts::Value::matrix(std::move(m));

  if (kind == 'f' && size == 8 && col_stride == 8 && (ndim < 2 || row_stride == 8 * cols)) {
    std::memcpy(out, base, m.data.size() * sizeof(double));  // C-contiguous doubles
  } else if (kind == 'f' && size == 8 && ndim == 1 && row_stride == 8) {
    std::memcpy(out, base, m.data.size() * sizeof(double));
  } else if (kind == 'f') {
    switch (size) {
      case 2: gather<Half>(base, rows, cols, row_stride, col_stride, out); break;
      case 4: gather<float>(base, rows, cols, row_stride, col_stride, out); break;
      case 8: gather<double>(base, rows, cols, row_stride, col_stride, out); break;
      default:
        if (size == std::int64_t(sizeof(long double))) {
          gather<long double>(base, rows, cols, row_stride, col_stride, out);
          break;
        }
        argument_error(PyExc_TypeError, function, slot, "unsupported floating-point type");
    }
  } else if (kind == 'i') {
    switch (size) {
      case 1: gather<std::int8_t>(base, rows, cols, row_stride, col_stride, out); break;
      case 2: gather<std::int16_t>(base, rows, cols, row_stride, col_stride, out); break;
      case 4: gather<std::int32_t>(base, rows, cols, row_stride, col_stride, out); break;
      default: gather<std::int64_t>(base, rows, cols, row_stride, col_stride, out); break;
    }
  } else if (kind == 'u' || kind == 'b') {
    switch (size) {
      case 1: gather<std::uint8_t>(base, rows, cols, row_stride, col_stride, out); break;
      case 2: gather<std::uint16_t>(base, rows, cols, row_stride, col_stride, out); break;
      case 4: gather<std::uint32_t>(base, rows, cols, row_stride, col_stride, out); break;
      default: gather<std::uint64_t>(base, rows, cols, row_stride, col_stride, out); break;
    }
  } else if (kind == 'O') {
    gather_objects(base, rows, cols, row_stride, col_stride, out, function, slot);
  } else {
    const std::string what = kind == 'c'   ? "complex values are not accepted"
                             : kind == 'U' || kind == 'S'
                                 ? "an array of strings (a character value is a single str)"
                                 : "values of dtype " + py::str(dt).cast<std::string>() +
                                       " are not numbers";
    argument_error(PyExc_TypeError, function, slot, what);
  }
  return mvts::Value::matrix(std::move(m));
}

// One argument object as a host value.
mvts::Value to_value(py::handle obj, const std::string& function, std::size_t slot) {
  PyObject* o = obj.ptr();
  if (o == Py_None) return mvts::Value::omitted();
  if (o == g_empty) return mvts::Value::no_value();
  if (PyFloat_CheckExact(o)) return mvts::Value::scalar(PyFloat_AS_DOUBLE(o));
  if (PyLong_CheckExact(o)) {
    const double v = PyLong_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    return mvts::Value::scalar(v);
  }
  if (PyUnicode_Check(o)) {
    Py_ssize_t n = 0;
    const char* s = PyUnicode_AsUTF8AndSize(o, &n);
    if (!s) throw py::error_already_set();
    return mvts::Value::character(std::string(s, std::size_t(n)));
  }
  if (py::isinstance<py::array>(obj)) return array_value(py::reinterpret_borrow<py::array>(obj), function, slot);
  // numpy.asarray: anything with __array__ (pandas), nested sequences and
  // numbers.
  PyObject* arr = PyObject_CallOneArg(g_asarray, o);
  if (!arr) {
    py::error_already_set e;
    argument_error(PyExc_TypeError, function, slot,
                   std::string("cannot be read as an array: ") + e.what());
  }
  return array_value(py::reinterpret_steal<py::array>(arr), function, slot);
}

// A created output as the catalogue says it is: a scalar (1 x 1) as a float,
// a vector (n x 1 or 1 x n) as a 1-d array, anything else as a 2-d array.
// An output the model lacks (a part the catalogue marks as absent, given as
// a 1 x 1 missing value) is None, as is one not created.  The arrays own
// the host's block.
py::object to_python(std::optional<mvts::Matrix>& out, const mvts::OutputDoc* doc) {
  if (!out) return py::none();
  const py::ssize_t rows = out->rows, cols = out->cols;
  if (doc && doc->absent && rows == 1 && cols == 1 && std::isnan(out->data[0])) return py::none();
  const mvts::OutputShape shape = doc ? doc->shape : mvts::OutputShape::kMatrix;
  if (shape == mvts::OutputShape::kScalar && rows == 1 && cols == 1) return py::float_(out->data[0]);
  auto* held = new std::vector<double>(std::move(out->data));
  py::capsule owner(held, [](void* p) { delete static_cast<std::vector<double>*>(p); });
  if (held->empty()) held->reserve(1);  // a valid address for an empty result
  constexpr auto kDouble = py::ssize_t(sizeof(double));
  if (shape != mvts::OutputShape::kMatrix && (rows == 1 || cols == 1))
    return py::array_t<double>({rows * cols}, {kDouble}, held->data(), owner);
  return py::array_t<double>({rows, cols}, {kDouble * cols, kDouble}, held->data(), owner);
}

const char* shape_name(mvts::OutputShape shape) {
  switch (shape) {
    case mvts::OutputShape::kScalar: return "scalar";
    case mvts::OutputShape::kVector: return "vector";
    default: return "matrix";
  }
}

py::object insert_value(const mvts::InsertValue& v) {
  if (auto* s = std::get_if<std::string>(&v)) return py::str(*s);
  if (auto* i = std::get_if<std::int64_t>(&v)) return py::int_(*i);
  return py::float_(std::get<double>(v));
}

// Ctrl-C during a call.  While a call runs with the interpreter lock
// released, Python's own SIGINT handler only marks the signal, to be acted on
// when the call returns.  A call made from the main thread while Python's
// default handler is in place therefore installs its own handler for the
// length of the call: SIGINT asks the host to cancel (the call ends within a
// fraction of a second with message 398) and the call then raises
// KeyboardInterrupt, as a Python loop would.  A handler of the program's
// own is left in place and the call runs to its end.
std::atomic<mvts::Host*> g_interrupt_host{nullptr};
volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void on_interrupt(int) {
  g_interrupted = 1;
  if (mvts::Host* h = g_interrupt_host.load()) h->cancel();
}

// Installs on_interrupt for SIGINT while it lives, when `active`.
class InterruptScope {
 public:
  InterruptScope(mvts::Host* host, bool active) : active_(active) {
    if (!active_) return;
    g_interrupted = 0;
    g_interrupt_host.store(host);
    struct sigaction sa {};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &previous_);
  }
  ~InterruptScope() {
    if (!active_) return;
    sigaction(SIGINT, &previous_, nullptr);
    g_interrupt_host.store(nullptr);
  }
  bool interrupted() const { return active_ && g_interrupted != 0; }
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  bool active_;
  struct sigaction previous_ {};
};

// The main thread's identity, signal.getsignal and signal.default_int_handler,
// taken once when the extension is imported.
unsigned long g_main_thread = 0;
PyObject* g_getsignal = nullptr;
PyObject* g_default_int_handler = nullptr;

void remember_interrupt_handling() {
  g_main_thread = py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
  py::module_ signal = py::module_::import("signal");
  g_getsignal = py::object(signal.attr("getsignal")).release().ptr();
  g_default_int_handler = py::object(signal.attr("default_int_handler")).release().ptr();
}

// True on the main thread while SIGINT has Python's default handler (the
// interpreter lock held).
bool owns_interrupts() {
  if (PyThread_get_thread_ident() != g_main_thread) return false;
  py::object handler = py::reinterpret_borrow<py::object>(g_getsignal)(int(SIGINT));
  return handler.ptr() == g_default_int_handler;
}

// A host run with its lock: calls on one session run one at a time.
class PySession {
 public:
  PySession() : host_(std::make_unique<mvts::Session>()) {}

  // call(NAME, args) -> (status, outputs, messages, argument): outputs a
  // tuple with one entry per output (None where not created); messages None
  // or a list of (number, inserts, text, note); argument the 1-based input
  // whose check failed, or 0.
  py::tuple call(const std::string& name, const py::tuple& args) {
    const mvts::FunctionInfo* f = host_->find(name);
    if (!f) throw py::value_error("the module registers no function " + name);
    const std::size_t n = args.size();
    if (f->max_inputs >= 0 && n > std::size_t(f->max_inputs))
      throw py::type_error(name + " takes at most " + std::to_string(f->max_inputs) + " arguments");
    // Trailing omitted arguments are not passed: the count of inputs the
    // module sees is the position of the last one given, as on the command
    // line.
    std::size_t count = n;
    while (count > 0 && args[count - 1].is_none()) --count;
    std::vector<mvts::Value> values;
    values.reserve(count);
    for (std::size_t i = 0; i < count; ++i) values.push_back(to_value(args[i], name, i));

    mvts::CallResult r;
    bool interrupted = false;
    {
      const bool own = owns_interrupts();
      py::gil_scoped_release unlocked;
      std::lock_guard<std::mutex> lock(mutex_);
      InterruptScope scope(host_.get(), own);
      r = host_->call(name, std::move(values));
      interrupted = scope.interrupted();
    }
    if (interrupted) {
      PyErr_SetNone(PyExc_KeyboardInterrupt);
      throw py::error_already_set();
    }

    const mvts::FunctionDoc* doc = mvts::find_doc(name);
    py::tuple outputs(r.outputs.size());
    for (std::size_t i = 0; i < r.outputs.size(); ++i)
      outputs[i] = to_python(r.outputs[i], doc && i < doc->outputs.size() ? &doc->outputs[i] : nullptr);
    py::object messages = py::none();
    if (!r.messages.empty() || !r.notes.empty()) {
      py::list list;
      for (const mvts::Message& m : r.messages) {
        py::tuple inserts(m.inserts.size());
        for (std::size_t i = 0; i < m.inserts.size(); ++i) inserts[i] = insert_value(m.inserts[i]);
        list.append(py::make_tuple(m.number, inserts, m.text, m.note));
      }
      for (const std::string& note : r.notes) list.append(py::make_tuple(0, py::tuple(), note, true));
      messages = std::move(list);
    }
    // The input (1-based) whose check ended a failed call; 0 when none did.
    return py::make_tuple(r.status, outputs, messages, int(r.argument));
  }

  // Asks the call running on this session to stop (from any thread; the
  // interpreter lock is not needed).
  void cancel() { host_->cancel(); }

  // (name, max_inputs, outputs) of each registered function.
  py::list registered() const {
    py::list out;
    for (const mvts::FunctionInfo& f : host_->functions())
      out.append(py::make_tuple(f.name, f.max_inputs, f.outputs));
    return out;
  }

 private:
  std::unique_ptr<mvts::Session> host_;
  std::mutex mutex_;
};

py::list catalog() {
  py::list out;
  for (const mvts::FunctionDoc& f : mvts::catalog()) {
    py::list inputs, outputs;
    for (const mvts::InputDoc& in : f.inputs) inputs.append(py::make_tuple(in.name, in.meaning, in.fallback));
    for (const mvts::OutputDoc& o : f.outputs) {
      std::string meaning = o.meaning;
      if (o.absent) meaning += std::string(" (None when ") + o.absent + ")";
      outputs.append(py::make_tuple(o.name, meaning, shape_name(o.shape)));
    }
    out.append(py::make_tuple(f.name, f.summary, inputs, outputs));
  }
  return out;
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "The compiled part of mvts: host sessions and the function catalogue.";
  m.attr("__version__") = mvts::version();
  m.def("catalog", &catalog,
        "The catalogue the command line's help reads: (NAME, summary, inputs, outputs) per "
        "function, inputs as (name, meaning, omitted), outputs as (name, meaning, shape).");
  m.def("status_text", &mvts::status_text, py::arg("status"),
        "What a status means for a call that failed without a message ('' if nothing general).");
  m.def("_set_empty", [](py::object empty) {
    Py_XDECREF(g_empty);
    g_empty = empty.release().ptr();
  });
  g_asarray = py::object(py::module_::import("numpy").attr("asarray")).release().ptr();
  remember_interrupt_handling();
  py::class_<PySession>(m, "Session")
      .def(py::init<>())
      .def("_call", &PySession::call, py::arg("name"), py::arg("args"))
      .def("_registered", &PySession::registered)
      .def("_cancel", &PySession::cancel, py::call_guard<py::gil_scoped_release>());
}

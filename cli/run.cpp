#include "cli/run.hpp"

#include <algorithm>
#include <new>

#include "cli/interrupt.hpp"
#include "host/catalog.hpp"
#include "cli/stats.hpp"
#include "cli/summary.hpp"

namespace mvts::cli {

std::optional<Signature> signature_of(const Host& host, std::string_view name) {
  const FunctionInfo* f = host.find(name);
  if (!f) return std::nullopt;
  Signature s;
  s.name = f->name;
  s.max_inputs = std::max(0, f->max_inputs);
  s.outputs = std::max(0, f->outputs);
  const FunctionDoc* doc = find_doc(f->name);
  for (int i = 0; i < s.max_inputs; ++i)
    s.input_names.push_back(doc && std::size_t(i) < doc->inputs.size() ? doc->inputs[std::size_t(i)].name
                                                                          : "arg" + std::to_string(i + 1));
  for (int i = 0; i < s.outputs; ++i)
    s.output_names.push_back(doc && std::size_t(i) < doc->outputs.size()
                                 ? doc->outputs[std::size_t(i)].name
                                 : "output" + std::to_string(i + 1));
  return s;
}

void Runner::usage(const std::string& where, const std::string& problem) {
  printer_.error_line("mvts: " + where + problem);
}

const ColumnNames* Runner::names_of(const std::string& variable) const {
  auto it = names_.find(variable);
  return it == names_.end() ? nullptr : &it->second;
}

void Runner::set_names(const std::string& variable, const ColumnNames* names) {
  if (names && !names->empty())
    names_[variable] = *names;
  else
    names_.erase(variable);
}

std::vector<Value> Runner::arguments(const BoundCall& call, NamedInput* named) {
  std::size_t count = call.slots.size();
  while (count > 0 && !call.slots[count - 1]) --count;
  std::vector<Value> args(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (!call.slots[i]) continue;  // omitted
    const std::string& text = *call.slots[i];
    if (text.size() > 1 && text[0] == '$' && !vars_.count(text.substr(1))) {
      auto failed = failed_at_.find(text.substr(1));
      if (failed != failed_at_.end())
        throw UsageError("variable " + text + " has no value: the call on line " +
                         std::to_string(failed->second) + " that sets it failed");
    }
    ColumnNames names;
    args[i] = parse_value(text, line_ > 0 ? &vars_ : nullptr, &names);
    if (text.size() > 1 && text[0] == '$')
      if (const ColumnNames* held = names_of(text.substr(1))) names = *held;
    if (named && named->names.empty() && !names.empty() && args[i].kind == Value::Kind::kNumeric) {
      named->names = std::move(names);
      named->rows = args[i].m.rows;
      named->cols = args[i].m.cols;
    }
  }
  return args;
}

int Runner::run_call(const BoundCall& call, const std::vector<std::string>& names,
                     const std::string& where, bool summary) {
  std::vector<Value> args;
  NamedInput named;
  try {
    args = arguments(call, &named);
  } catch (const UsageError& e) {
    usage(where, e.what());
    return kExitUsage;
  }
  const std::optional<Signature> sig = signature_of(host_, call.function);
  // The arguments are handed over, so no copy of them outlives the call;
  // a summary keeps them for the calls at the estimate.
  std::vector<Value> kept;
  if (summary) kept = args;
  CallResult r = host_.call(call.function, std::move(args));
  // An output shaped like the first input with column names (a series
  // differenced, filtered or its residuals) carries its names.
  auto names_for = [&](const std::optional<Matrix>& out) -> const ColumnNames* {
    return out && !named.names.empty() && out->rows == named.rows && out->cols == named.cols
               ? &named.names
               : nullptr;
  };
  std::vector<Shown> shown;
  for (std::size_t i = 0; i < r.outputs.size(); ++i) {
    std::optional<Matrix>& out = r.outputs[i];
    if (i < names.size()) {
      if (r.status == 0) {
        set_names(names[i], names_for(out));
        // Moved, not copied: a stored result costs its size once.
        vars_[names[i]] = std::move(out);
        out.reset();
        failed_at_.erase(names[i]);
      } else {
        vars_.erase(names[i]);
        names_.erase(names[i]);
        failed_at_[names[i]] = line_;
      }
    } else if (r.status == 0 && out && !summary) {
      const std::string name = sig && i < sig->output_names.size() ? sig->output_names[i]
                                                                     : "output" + std::to_string(i + 1);
      shown.push_back({name, int(i + 1), &*out, names_for(out)});
    }
  }
  const std::string argument_name =
      sig && r.argument > 0 && std::size_t(r.argument) <= sig->input_names.size()
          ? sig->input_names[std::size_t(r.argument) - 1]
          : std::string();
  printer_.call(call.function, r, shown, where, argument_name);
  // The summary needs the outputs, which assigned names may have taken.
  if (summary && r.status == 0) {
    CallResult fit;
    for (std::size_t i = 0; i < r.outputs.size(); ++i)
      fit.outputs.push_back(i < names.size() ? vars_[names[i]] : r.outputs[i]);
    if (!print_summary(sig ? sig->name : call.function, kept, fit, where)) return kExitFailed;
  }
  return r.status == 0 ? kExitOk : kExitFailed;
}

bool Runner::print_summary(const std::string& function, const std::vector<Value>& args,
                           const CallResult& fit, const std::string& where) {
  FitSummary s;
  try {
    s = summarize_fit(host_, function, args, fit);
  } catch (const std::runtime_error& e) {
    usage(where, e.what());
    return false;
  }
  if (printer_.format() == Format::kTable) {
    printer_.text(summary_text(s));
    return true;
  }
  const Matrix table = summary_matrix(s), criteria = summary_criteria(s);
  std::string extra = "\"title\":" + json_string(s.title) + ",\"names\":[";
  for (std::size_t i = 0; i < s.names.size(); ++i) {
    if (i) extra += ',';
    extra += json_string(s.names[i]);
  }
  extra += "],\"columns\":[\"coef\",\"std_err\",\"z\",\"p\",\"lower\",\"upper\"],\"notes\":[";
  for (std::size_t i = 0; i < s.notes.size(); ++i) {
    if (i) extra += ',';
    extra += json_string(s.notes[i]);
  }
  extra += "]";
  if (printer_.format() == Format::kCsv) {
    std::string names = "parameters:";
    for (const std::string& n : s.names) names += " " + n;
    printer_.error_line("NOTE: " + where + s.title + "; " + names +
                        "; columns coef std_err z p lower upper; criteria llf aic bic hqic nobs");
  }
  printer_.matrices("summary", function,
                    {{"estimates", 0, &table}, {"criteria", 0, &criteria}}, extra);
  return true;
}

int Runner::call(std::string_view function, const std::vector<Word>& args, bool summary) {
  line_ = 0;
  const std::optional<Signature> sig = signature_of(host_, function);
  if (!sig) {
    usage("", "unknown function " + in_quotes(function) + " (mvts list shows the functions)");
    return kExitUsage;
  }
  if (summary && !is_summarised_fit(sig->name)) {
    usage("", "summary describes a fit (FARMAFIT, FARMAFITMEAN or VARMAFIT), not " + sig->name);
    return kExitUsage;
  }
  BoundCall bound;
  try {
    bound = bind_arguments(*sig, args);
  } catch (const UsageError& e) {
    usage("", e.what());
    return kExitUsage;
  }
  return run_call(bound, {}, "", summary);
}

int Runner::execute(const Statement& st, const std::string& where) {
  using Kind = Statement::Kind;
  if (st.kind == Kind::kCall) return run_call(st.call, st.names, where, st.summary);
  try {
    // The value of a variable named by print, write or stats.
    auto value_of = [&](const std::string& name) -> const std::optional<Matrix>& {
      auto it = vars_.find(name);
      if (it != vars_.end()) return it->second;
      auto failed = failed_at_.find(name);
      throw UsageError("variable " + name + " has no value" +
                       (failed == failed_at_.end() ? std::string()
                                                   : ": the call on line " +
                                                         std::to_string(failed->second) +
                                                         " that sets it failed"));
    };
    switch (st.kind) {
      case Kind::kPrint:
        for (const std::string& name : st.names) {
          const std::optional<Matrix>& v = value_of(name);
          printer_.matrices("print", name, {{name, 0, v ? &*v : nullptr, names_of(name)}});
        }
        return kExitOk;
      case Kind::kWrite: {
        const std::optional<Matrix>& v = value_of(st.names[0]);
        if (!v) throw UsageError("write: variable " + st.names[0] + " holds no value");
        const ColumnNames* names = names_of(st.names[0]);
        write_matrix_file(st.text, *v, names ? *names : ColumnNames());
        return kExitOk;
      }
      case Kind::kStats:
        for (const std::string& name : st.names) {
          const std::optional<Matrix>& v = value_of(name);
          if (!v) throw UsageError("stats: variable " + name + " holds no value");
          // The k x k covariance is refused, like a module's result, when it
          // cannot fit the host's memory cap.
          const std::uint64_t k = std::uint64_t(std::max(0, v->cols));
          if (k * k > host_.memory_limit() / sizeof(double))
            throw ResourceError("stats: variable " + name + " has " + std::to_string(k) +
                                " columns; their " + std::to_string(k) + " x " +
                                std::to_string(k) + " covariance does not fit the memory limit of " +
                                std::to_string(host_.memory_limit() >> 20) + " MiB");
          const ColumnMoments cm = column_moments(*v);
          if (cm.rows_used < v->rows && printer_.format() != Format::kJson)
            printer_.error_line("NOTE: " + where + "stats " + name + ": " +
                                std::to_string(v->rows - cm.rows_used) + " of " +
                                std::to_string(v->rows) +
                                " rows hold missing values and are left out");
          const ColumnNames* names = names_of(name);
          printer_.matrices("stats", name,
                            {{"mean(" + name + ")", 0, &cm.mean, names},
                             {"cov(" + name + ")", 0, &cm.cov, names}},
                            "\"rows_used\":" + std::to_string(cm.rows_used));
        }
        return kExitOk;
      case Kind::kLet: {
        ColumnNames names;
        Value v = parse_value(st.text, &vars_, &names);
        if (v.kind == Value::Kind::kText)
          throw UsageError("let: " + in_quotes(st.text) + " is not a number or a matrix");
        if (st.text.size() > 1 && st.text[0] == '$')
          if (const ColumnNames* held = names_of(st.text.substr(1))) names = *held;
        set_names(st.names[0], &names);
        if (v.kind == Value::Kind::kNumeric)
          vars_[st.names[0]] = std::move(v.m);
        else
          vars_[st.names[0]] = std::nullopt;
        failed_at_.erase(st.names[0]);
        return kExitOk;
      }
      case Kind::kCall:
        break;
    }
  } catch (const UsageError& e) {
    usage(where, e.what());
    return kExitUsage;
  } catch (const ResourceError& e) {
    usage(where, e.what());
    return kExitFailed;
  }
  return kExitOk;
}

int Runner::script(std::string_view text, const std::string& source, bool keep_going) {
  const std::string shown = printable(source);
  std::vector<std::string> errors;
  std::vector<Statement> statements;
  try {
    statements = parse_script(
        text, [this](std::string_view name) { return signature_of(host_, name); }, &errors);
  } catch (const LineOutOfMemory& e) {
    usage(shown + ":", e.what());
    return kExitFailed;
  }
  if (!errors.empty()) {
    for (const std::string& e : errors) usage(shown + ":", e);
    return kExitUsage;
  }
  int worst = kExitOk;
  for (const Statement& st : statements) {
    if (interrupted()) break;  // Ctrl-C stops the script, --keep-going or not
    line_ = st.line;
    const std::string where = shown + ":" + std::to_string(st.line) + ": ";
    int rc;
    try {
      rc = execute(st, where);
    } catch (const std::bad_alloc&) {
      usage(where, "out of memory");
      rc = kExitFailed;
    }
    worst = std::max(worst, rc);
    if (rc != kExitOk && !keep_going) break;
  }
  line_ = 0;
  return worst;
}

}  // namespace mvts::cli

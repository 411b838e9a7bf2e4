// Errors and messages: the pending error, errors raised by the module,
// messages with their inserts, notes, and utility-file failures reported.
// The texts themselves are in messages.cpp.  The host records and returns:
// it never unwinds through the module's frames.
#include <string>

#include "host/host_impl.hpp"

namespace mvts::detail {
namespace {

// Runs `body`, which records something of the current call; a record that
// cannot be stored (no memory for its text) leaves the out-of-memory error
// pending instead of an exception in the module's C frames.
template <class Body>
void recording(HostImpl* h, Body body) noexcept {
  try {
    body();
  } catch (...) {
    h->call.pending = MCN_ERROR_OUT_OF_MEMORY;
  }
}

}  // namespace

std::int32_t op_error_pending() noexcept { return H()->call.pending; }

void op_raise_error(std::int32_t code) noexcept {
  HostImpl* h = H();
  h->call.pending = 0;
  h->call.current.raised_error = code;
  try {
    Message m;
    m.number = 0;
    m.text = error_text(code);
    h->call.current.messages.push_back(std::move(m));
  } catch (...) {
    // The code is recorded above; only its text is lost, and raising leaves
    // no error pending.
  }
}

std::int32_t op_issue_message(std::int32_t group, std::int32_t number, std::int32_t count,
                              const mcn_insert* inserts) noexcept {
  HostImpl* h = H();
  recording(h, [&] {
    Message m;
    m.number = number;
    for (int i = 0; i < count && i < 4; ++i) {
      switch (inserts[i].kind) {
        case MCN_INSERT_TEXT:
          m.inserts.emplace_back(std::string(inserts[i].s ? inserts[i].s : ""));
          break;
        case MCN_INSERT_INT: m.inserts.emplace_back(std::int64_t(inserts[i].i)); break;
        default: m.inserts.emplace_back(inserts[i].d); break;
      }
    }
    m.text = group == MCN_MESSAGE_GROUP ? message_text(number, m.inserts)
                                        : "message " + std::to_string(number) + " of group " +
                                              std::to_string(group);
    if (group == MCN_MESSAGE_GROUP && number == kMessageDisagree)
      m.text = disagreement_text(h->call, m.text);
    m.note = message_is_note(number);
    h->call.current.messages.push_back(std::move(m));
  });
  return 0;
}

void op_fatal_error(std::int32_t code, std::int32_t) noexcept {
  HostImpl* h = H();
  recording(h, [&] {
    Message m;
    m.number = code;
    m.text = error_text(code);
    h->call.current.messages.push_back(std::move(m));
  });
}

void op_print_note(const char* format, const char* insert) noexcept {
  HostImpl* h = H();
  recording(h, [&] {
    std::string out;
    const std::string f = format ? format : "";
    for (std::size_t i = 0; i < f.size(); ++i) {
      if (f[i] == '%' && i + 1 < f.size() && f[i + 1] == 's') {
        out += insert ? insert : "";
        ++i;
      } else {
        out += f[i];
      }
    }
    h->call.current.notes.push_back(out);
  });
}

void op_error_code_report(std::int32_t, std::int32_t code) noexcept {
  HostImpl* h = H();
  recording(h, [&] {
    Message m;
    m.number = 0;
    m.inserts.emplace_back(std::int64_t(code));
    m.text = "A host utility file operation failed with code " + std::to_string(code) +
             ": the disk may be full or the temporary directory not writable.";
    h->call.current.messages.push_back(std::move(m));
  });
}

}  // namespace mvts::detail

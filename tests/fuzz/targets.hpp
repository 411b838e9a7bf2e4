// The fuzz targets: each takes one input of any bytes and returns 0, and
// aborts (a finding) when a property it checks fails.  libFuzzer drives them
// in the fuzz build (scripts/fuzz.sh); the test suite replays the corpus
// kept under tests/fuzz/corpus through them (replay_test.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace mvts::fuzz {

// The script and value parser: parse_script, parse_value, the data-file
// reader and the escaping of text shown to the user.
int script_input(const std::uint8_t* data, std::size_t size);

// The functions of both modules through the Session API: the bytes choose a
// function and its arguments.  One Session serves the whole process.
int session_input(const std::uint8_t* data, std::size_t size);

}  // namespace mvts::fuzz

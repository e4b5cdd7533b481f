#include "failure.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "output.h"

namespace {

std::string program_name = "program";
int status = 0;

void report(std::string_view verb, std::string_view file_name, int error) {
  Output& out = standard_output();
  if (!out.failed) flush_output(out);  // keep the two streams in order
  std::string line = program_name;
  line += ": cannot ";
  line += verb;
  if (file_name.empty()) {
    line += " standard output";
  } else {
    line += " \"";
    line += file_name;
    line += '"';
  }
  line += ": ";
  line += error != 0 ? std::strerror(error) : "unknown error";
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  status = 1;
}

}  // namespace

void set_program_name(std::string_view name) { program_name = name; }

void report_read_failure(std::string_view file_name, int error) {
  report("read", file_name, error);
}

void report_write_failure(std::string_view file_name, int error) {
  report("write", file_name, error);
}

int exit_status() { return status; }

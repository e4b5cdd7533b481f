#include "trim.h"

std::string trim(std::string_view line) { return std::string(trim_view(line)); }

// One CSV field as RFC 4180 writes it (UTF-8 bytes pass through): quoted when it holds a comma, a
// quote or a line break, or begins or ends with a blank; quotes inside doubled.
#pragma once

#include <string>
#include <string_view>

namespace client {

void AppendCsvField(std::string& out, std::string_view field);

}  // namespace client

// printf-style formatting of texts that come from a string table. A table is
// data, so its conversions are checked against the arguments the caller gives
// before anything is substituted: a wrong "%" is refused, never passed on.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace infokit {

using FormatArg = std::variant<std::string_view, std::int64_t>;

// Supports %% and %[-0][width][.precision][h|l|ll](s|d|i|u|x|X); "%s" takes a
// text argument, the integer conversions an integer. Nothing when a conversion
// is unknown, has the wrong kind of argument, or the count of arguments differs
// from the count of conversions. Widths count characters, not bytes.
std::optional<std::string> formatChecked(std::string_view format, std::initializer_list<FormatArg> args);

}  // namespace infokit

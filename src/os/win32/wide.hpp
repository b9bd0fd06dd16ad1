#pragma once
// UTF-16 exists only inside the Win32 layer.
#include <optional>
#include <string>
#include <string_view>

namespace nm::os::win {

std::wstring to_wide(std::string_view utf8);
// None when the text holds a lone surrogate.
std::optional<std::string> from_wide(std::wstring_view wide);
// Lone surrogates replaced by U+FFFD.
std::string from_wide_lossy(std::wstring_view wide);

}  // namespace nm::os::win

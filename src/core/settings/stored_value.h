#pragma once
// When a stored value counts as found, for every kind of store. Plain C++ so
// that the registry store can use it without Qt.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace veloxa::settings {

inline constexpr std::size_t kMaxValueBytes = 1024;

// The text of a value's stored bytes, or nothing when the value is to read as
// not found: no data, more than 1024 bytes, or nothing left once a trailing
// zero byte is dropped (an empty text would otherwise pass the checks of
// start-up as the number 0).
inline std::optional<std::string> acceptStoredBytes(std::string_view bytes)
{
    if (bytes.empty() || bytes.size() > kMaxValueBytes)
        return std::nullopt;
    if (bytes.back() == '\0')
        bytes.remove_suffix(1);
    if (bytes.empty())
        return std::nullopt;
    return std::string(bytes);
}

} // namespace veloxa::settings

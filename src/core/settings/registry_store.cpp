#include "core/settings/registry_store.h"

#include "core/settings/stored_value.h"

#include <array>
#include <cstdint>
#include <limits>

namespace veloxa::settings {

namespace {

using ValueBuffer = std::array<unsigned char, kMaxValueBytes>;

// The unsigned number held by `count` bytes at the start of the buffer. The
// buffer is all zero beyond the value's data, so shorter data reads as if
// padded with zero bytes.
std::uint64_t numberAt(const ValueBuffer &buffer, std::size_t count, bool leastSignificantFirst)
{
    std::uint64_t number = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t index = leastSignificantFirst ? count - 1 - i : i;
        number = (number << 8) | buffer[index];
    }
    return number;
}

// The text of a value whose data passed acceptStoredBytes (given as `bytes`,
// a trailing zero byte already dropped); the whole data is at the start of
// `buffer`.
std::string textOfValue(DWORD type, std::string bytes, const ValueBuffer &buffer)
{
    switch (type) {
    case REG_DWORD: return std::to_string(numberAt(buffer, 4, true));
    case REG_DWORD_BIG_ENDIAN: return std::to_string(numberAt(buffer, 4, false));
    case REG_QWORD: return std::to_string(numberAt(buffer, 8, true));
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ: {
        const std::size_t end = bytes.find('\0');
        if (end != std::string::npos)
            bytes.resize(end);
        return bytes;
    }
    default: // REG_SZ, and whatever else another tool may have stored
        return bytes;
    }
}

} // namespace

AnsiRegistryStore::AnsiRegistryStore()
    : AnsiRegistryStore(HKEY_LOCAL_MACHINE, kRegistryKeyPath)
{
}

AnsiRegistryStore::AnsiRegistryStore(HKEY root, std::string path)
    : m_root(root)
    , m_path(std::move(path))
{
}

std::optional<std::string> AnsiRegistryStore::read(const std::string &name) const
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(m_root, m_path.c_str(), 0, kReadAccess | kRegistryView, &key) != ERROR_SUCCESS)
        return std::nullopt;

    ValueBuffer buffer{};
    DWORD type = REG_NONE;
    DWORD length = static_cast<DWORD>(buffer.size());
    // Data longer than the buffer fails with ERROR_MORE_DATA.
    const LONG queried = RegQueryValueExA(key, name.c_str(), nullptr, &type, buffer.data(), &length);
    RegCloseKey(key);
    if (queried != ERROR_SUCCESS || length > buffer.size())
        return std::nullopt;

    auto bytes = acceptStoredBytes(std::string_view(reinterpret_cast<const char *>(buffer.data()), length));
    if (!bytes)
        return std::nullopt;
    std::string text = textOfValue(type, std::move(*bytes), buffer);
    // An empty text never counts as found, whatever the type.
    if (text.empty())
        return std::nullopt;
    return text;
}

bool AnsiRegistryStore::write(const std::string &name, std::string_view text) const
{
    if (text.size() >= std::numeric_limits<DWORD>::max())
        return false;

    HKEY key = nullptr;
    if (RegCreateKeyExA(m_root, m_path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kWriteAccess | kRegistryView,
                        nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return false;

    // RegSetValueExA adds a terminating zero byte to a string's length on its
    // own when the data does not end in one but the byte just after it is
    // zero, which would be the case for the bytes of a std::string. The data
    // is therefore handed over with a non-zero byte after it, so that exactly
    // the text's bytes are stored.
    std::string data(text);
    data.push_back('\x01');
    const LONG set = RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(data.data()),
                                    static_cast<DWORD>(text.size()));
    RegCloseKey(key);
    return set == ERROR_SUCCESS;
}

} // namespace veloxa::settings

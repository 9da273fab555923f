#pragma once
// The settings store on Windows: text values under one registry key, kept
// with the ANSI forms of the advapi32 registry functions. Plain C++ and Win32,
// no Qt: texts are bytes in the system's ANSI code page (the Qt adapter in
// registry_store_qt.h converts them).

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace veloxa::settings {

// Where the panel keeps its settings: HKEY_LOCAL_MACHINE\SOFTWARE\KW\Veloxa.
inline constexpr char kRegistryKeyPath[] = "SOFTWARE\\KW\\Veloxa";

// Access asked for by a read: query value, set value, create sub-key,
// enumerate sub-keys, notify, create link, read control. A read therefore
// needs write access to the key too; where that is refused, every value reads
// as not found.
inline constexpr REGSAM kReadAccess = 0x2003F;
// Access asked for by a write: KEY_ALL_ACCESS.
inline constexpr REGSAM kWriteAccess = 0xF003F;
// Both are always combined with KEY_WOW64_32KEY: the values live in the 32-bit
// registry view (HKLM\SOFTWARE\WOW6432Node\KW\Veloxa on 64-bit Windows), where
// a 32-bit build of the panel keeps them, so a 64-bit build reads and writes
// the very same values. On 32-bit Windows the flag changes nothing.
inline constexpr REGSAM kRegistryView = KEY_WOW64_32KEY;

// Every call opens the key, does its one access and closes the key again;
// nothing is kept in between.
//
// Read, with the value's type deciding its text:
// - REG_SZ, and any type not named below (REG_BINARY, REG_NONE, ...): the
//   data bytes as they are, one trailing zero byte dropped;
// - REG_DWORD: the unsigned decimal of the four data bytes, least
//   significant first (0x00000105 reads "261");
// - REG_DWORD_BIG_ENDIAN: the unsigned decimal of the four data bytes, most
//   significant first;
// - REG_QWORD: the unsigned decimal of the eight data bytes, least
//   significant first;
// - REG_EXPAND_SZ, REG_MULTI_SZ: the text up to the first zero byte, i.e. the
//   unexpanded text and the first string of the list.
// Not found: the key cannot be opened with kReadAccess, the value is missing,
// its data is empty or longer than 1024 bytes (acceptStoredBytes), or its
// text comes out empty.
//
// Write: creates the key where it is missing, then sets the value as REG_SZ
// holding exactly the text's bytes, without a terminating zero byte (an empty
// text gives a value of length 0). False when the key cannot be created or
// opened with kWriteAccess or the value cannot be set.
class AnsiRegistryStore {
public:
    // HKEY_LOCAL_MACHINE\SOFTWARE\KW\Veloxa.
    AnsiRegistryStore();
    // Another key, for tests.
    AnsiRegistryStore(HKEY root, std::string path);

    std::optional<std::string> read(const std::string &name) const;
    bool write(const std::string &name, std::string_view text) const;

    HKEY root() const { return m_root; }
    const std::string &path() const { return m_path; }

private:
    HKEY m_root;
    std::string m_path;
};

} // namespace veloxa::settings

// Tests of the registry settings store (AnsiRegistryStore) against the real
// registry of the Windows it runs on; here a fresh Wine prefix, run as a 64-bit
// program. Every case starts from a missing key and works on the store's own
// key, HKEY_LOCAL_MACHINE\SOFTWARE\KW\Veloxa, looking at the raw values with
// the registry functions themselves.
//
// Prints one line per failed check and a last line "N passed, M failed" (N and
// M count cases); exits non-zero when a case failed.

#include "core/settings/registry_store.h"

#include <sddl.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using veloxa::settings::AnsiRegistryStore;
using namespace std::string_literals;

namespace {

// --- A small harness ---------------------------------------------------------

// Ends the current case at a check that the rest of it depends on.
struct CaseAborted {};

class Checks {
public:
    explicit Checks(std::string caseName)
        : m_case(std::move(caseName))
    {
    }

    bool check(bool ok, int line, const std::string &what)
    {
        if (!ok) {
            ++m_failures;
            std::printf("FAIL %s (line %d): %s\n", m_case.c_str(), line, what.c_str());
        }
        return ok;
    }

    void require(bool ok, int line, const std::string &what)
    {
        if (!check(ok, line, what))
            throw CaseAborted{};
    }

    int failures() const { return m_failures; }

private:
    std::string m_case;
    int m_failures = 0;
};

#define CHECK(checks, condition, what) (checks).check((condition), __LINE__, (what))
#define REQUIRE(checks, condition, what) (checks).require((condition), __LINE__, (what))

struct TestCase {
    std::string name;
    std::function<void(Checks &)> run;
};

// Bytes as a C string literal would write them, for messages.
std::string quoted(std::string_view bytes)
{
    std::string out = "\"";
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u >= 0x20 && u < 0x7F) {
            out += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        }
    }
    return out + "\"";
}

std::string shown(const std::optional<std::string> &text)
{
    return text ? quoted(*text) : "not found"s;
}

// --- The registry, raw -------------------------------------------------------

constexpr const char *kPath = "SOFTWARE\\KW\\Veloxa";
// The same key seen from the 64-bit view on 64-bit Windows.
constexpr const char *kPathInWow64Node = "SOFTWARE\\WOW6432Node\\KW\\Veloxa";

// The eleven value names the panel uses.
const std::vector<std::string> kValueNames = {
    "Left",         "Top",       "IP Address",       "Frequency",
    "System Clock", "Polarity",  "Display Contrast", "Gain (CP current)",
    "Ramp Rate",    "Ramp Step", "Ramp Stop Freq",
};

// A key handle, closed when it goes.
struct Key {
    HKEY handle = nullptr;

    Key() = default;
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    ~Key()
    {
        if (handle)
            RegCloseKey(handle);
    }
};

LONG openKey(Key &key, const char *path, REGSAM access)
{
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, &key.handle);
}

bool keyExists(const char *path, REGSAM view)
{
    Key key;
    return openKey(key, path, KEY_QUERY_VALUE | view) == ERROR_SUCCESS;
}

// Removes HKLM\SOFTWARE\KW with everything below it from one view.
LONG deleteKwTree(REGSAM view)
{
    Key software;
    const LONG opened = openKey(software, "SOFTWARE", KEY_ALL_ACCESS | view);
    if (opened != ERROR_SUCCESS)
        return opened;
    const LONG deleted = RegDeleteTreeA(software.handle, "KW");
    if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND)
        return deleted;
    const LONG removed = RegDeleteKeyExA(software.handle, "KW", view, 0);
    return removed == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : removed;
}

// Sets a value in the store's key (created where missing) in the given view
// with exactly `data` as its bytes. The bytes are passed with a non-zero byte
// after them, so that RegSetValueExA does not count a terminating zero of its
// own into a string.
LONG rawSet(const std::string &name, DWORD type, std::string_view data, REGSAM view = KEY_WOW64_32KEY)
{
    Key key;
    const LONG created = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         KEY_ALL_ACCESS | view, nullptr, &key.handle, nullptr);
    if (created != ERROR_SUCCESS)
        return created;
    std::string buffer(data);
    buffer.push_back('\x7F');
    return RegSetValueExA(key.handle, name.c_str(), 0, type, reinterpret_cast<const BYTE *>(buffer.data()),
                          static_cast<DWORD>(data.size()));
}

struct RawValue {
    LONG result = ERROR_SUCCESS;
    DWORD type = REG_NONE;
    std::string data;
};

RawValue rawQuery(const std::string &name, const char *path = kPath, REGSAM view = KEY_WOW64_32KEY)
{
    RawValue value;
    Key key;
    value.result = openKey(key, path, KEY_QUERY_VALUE | view);
    if (value.result != ERROR_SUCCESS)
        return value;
    std::string buffer(8192, '\0');
    DWORD length = static_cast<DWORD>(buffer.size());
    value.result = RegQueryValueExA(key.handle, name.c_str(), nullptr, &value.type,
                                    reinterpret_cast<BYTE *>(buffer.data()), &length);
    if (value.result == ERROR_SUCCESS)
        value.data = buffer.substr(0, length);
    return value;
}

// The number's `size` bytes, least significant first (REG_DWORD, REG_QWORD).
std::string littleEndian(std::uint64_t number, int size)
{
    std::string bytes;
    for (int i = 0; i < size; ++i)
        bytes.push_back(static_cast<char>((number >> (8 * i)) & 0xFF));
    return bytes;
}

// Gives the store's key a DACL while alive, restores full access for
// everyone afterwards so that the key can be removed again.
class KeySecurity {
public:
    KeySecurity(Checks &checks, const char *sddl)
        : m_checks(checks)
    {
        apply(sddl);
    }
    ~KeySecurity() { apply("D:(A;;KA;;;WD)"); }

private:
    void apply(const char *sddl)
    {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
            CHECK(m_checks, false, "cannot build the security descriptor "s + sddl);
            return;
        }
        Key key;
        LONG result = openKey(key, kPath, WRITE_DAC | KEY_WOW64_32KEY);
        if (result == ERROR_SUCCESS)
            result = RegSetKeySecurity(key.handle, DACL_SECURITY_INFORMATION, descriptor);
        LocalFree(descriptor);
        CHECK(m_checks, result == ERROR_SUCCESS,
              "cannot set the key's DACL "s + sddl + ": error " + std::to_string(result));
    }

    Checks &m_checks;
};

// --- The cases ---------------------------------------------------------------

// One function a topic, each adding its cases. The cases use the store the
// panel uses, on HKEY_LOCAL_MACHINE\SOFTWARE\KW\Veloxa.

// The key: made by the first write only, one value for each name, in the
// 32-bit registry view.
void addKeyCases(std::vector<TestCase> &cases, const AnsiRegistryStore &store)
{
    cases.push_back(
        {"a missing key reads nothing and the first write creates it", [&store](Checks &t) {
             REQUIRE(t, !keyExists(kPath, KEY_WOW64_32KEY), "the key exists before the first write");
             for (const std::string &name : kValueNames) {
                 const auto text = store.read(name);
                 CHECK(t, !text, quoted(name) + " reads " + shown(text));
             }
             REQUIRE(t, !keyExists(kPath, KEY_WOW64_32KEY), "a read created the key");
             CHECK(t, store.write("Display Contrast", "80"), "the first write failed");
             REQUIRE(t, keyExists(kPath, KEY_WOW64_32KEY), "the first write did not create the key");
             {
                 // A volatile key (gone after a restart) takes volatile sub-keys only.
                 Key child;
                 const LONG created = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\KW\\Veloxa\\child", 0, nullptr,
                                                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                                                      nullptr, &child.handle, nullptr);
                 CHECK(t, created == ERROR_SUCCESS,
                       "the key is not a lasting one: a lasting sub-key cannot be made, error "
                           + std::to_string(created));
             }
             CHECK(t, store.read("Display Contrast") == "80"s,
                   "\"Display Contrast\" reads " + shown(store.read("Display Contrast")));
             for (const std::string &name : kValueNames) {
                 if (name == "Display Contrast")
                     continue;
                 const auto text = store.read(name);
                 CHECK(t, !text, quoted(name) + " reads " + shown(text) + " after another value was written");
             }
         }});

    cases.push_back(
        {"every value name of the panel, spaces and parentheses included, keeps its own text", [&store](Checks &t) {
             for (std::size_t i = 0; i < kValueNames.size(); ++i)
                 CHECK(t, store.write(kValueNames[i], "text " + std::to_string(i)),
                       "writing " + quoted(kValueNames[i]) + " failed");
             for (std::size_t i = 0; i < kValueNames.size(); ++i) {
                 const std::string expected = "text " + std::to_string(i);
                 const auto read = store.read(kValueNames[i]);
                 CHECK(t, read == expected, quoted(kValueNames[i]) + " reads " + shown(read));
                 const RawValue raw = rawQuery(kValueNames[i]);
                 CHECK(t, raw.result == ERROR_SUCCESS && raw.data == expected,
                       "no value named exactly " + quoted(kValueNames[i]) + " holds " + quoted(expected));
             }
         }});

    cases.push_back({"the values live in the 32-bit registry view", [&store](Checks &t) {
                         // A value put into the 32-bit view by someone else is what the store reads.
                         REQUIRE(t, rawSet("Polarity", REG_SZ, "False", KEY_WOW64_32KEY) == ERROR_SUCCESS,
                                 "cannot store a value in the 32-bit view");
                         CHECK(t, store.read("Polarity") == "False"s,
                               "the value in the 32-bit view reads " + shown(store.read("Polarity")));
                         // What the store writes is there too, under WOW6432Node as the 64-bit view sees it.
                         REQUIRE(t, store.write("Top", "1200"), "write failed");
                         const RawValue in32 = rawQuery("Top", kPath, KEY_WOW64_32KEY);
                         CHECK(t, in32.result == ERROR_SUCCESS && in32.data == "1200",
                               "the written value is not in the 32-bit view: error " + std::to_string(in32.result));
                         const RawValue inNode = rawQuery("Top", kPathInWow64Node, KEY_WOW64_64KEY);
                         CHECK(t, inNode.result == ERROR_SUCCESS && inNode.data == "1200",
                               "the written value is not under SOFTWARE\\WOW6432Node in the 64-bit view: error "
                                   + std::to_string(inNode.result));
                         // The 64-bit view's own SOFTWARE\KW\Veloxa is another key: the store
                         // neither writes there nor reads from there.
                         CHECK(t, !keyExists(kPath, KEY_WOW64_64KEY),
                               "the store's key showed up in the 64-bit view's SOFTWARE\\KW\\Veloxa");
                         REQUIRE(t, rawSet("Left", REG_SZ, "300", KEY_WOW64_64KEY) == ERROR_SUCCESS,
                                 "cannot store a value in the 64-bit view");
                         const auto left = store.read("Left");
                         CHECK(t, !left, "a value in the 64-bit view reads " + shown(left));
                         CHECK(t, store.read("Top") == "1200"s, "creating the 64-bit view's key hid the 32-bit one");
                     }});
}

// Texts the store writes, as the registry holds them.
void addWrittenTextCases(std::vector<TestCase> &cases, const AnsiRegistryStore &store)
{
    // Written texts: read back as written, stored as REG_SZ holding exactly
    // the text's bytes, whatever follows the text in the caller's memory.
    struct WrittenText {
        std::string label;
        std::string text;
    };
    const std::vector<WrittenText> writtenTexts = {
        {"a frequency", "12.34"},
        {"an address", "192.168.1.133"},
        {"a polarity", "True"},
        {"a negative position", "-500"},
        {"a single character", "7"},
        {"a text with blanks and a tab", " 1 \t2 "},
        {"non-ASCII characters of code page 1252", "\xE4\xF6\xFC"},
        {"1024 bytes", std::string(1024, 'x')},
    };
    for (const WrittenText &row : writtenTexts) {
        for (const char after : {'\0', '9'}) {
            const std::string label = "writes " + row.label + " with " + (after ? "a digit" : "a zero byte")
                + " after it in memory as exactly its bytes, and reads it back";
            cases.push_back(
                {label, [&store, row, after](Checks &t) {
                     std::string memory = row.text;
                     memory.push_back(after);
                     const std::string_view text(memory.data(), row.text.size());
                     REQUIRE(t, store.write("Frequency", text), "write failed");
                     const RawValue raw = rawQuery("Frequency");
                     REQUIRE(t, raw.result == ERROR_SUCCESS, "raw query failed: error " + std::to_string(raw.result));
                     CHECK(t, raw.type == REG_SZ, "stored as type " + std::to_string(raw.type));
                     CHECK(t, raw.data == row.text,
                           "stored " + std::to_string(raw.data.size()) + " bytes " + quoted(raw.data) + ", expected "
                               + std::to_string(row.text.size()) + " bytes " + quoted(row.text));
                     const auto read = store.read("Frequency");
                     CHECK(t, read == row.text, "reads " + shown(read));
                 }});
        }
    }

    cases.push_back(
        {"non-ASCII text is stored as code page 1252 characters", [&store](Checks &t) {
             REQUIRE(t, GetACP() == 1252,
                     "the ANSI code page is " + std::to_string(GetACP()) + ", this case needs 1252");
             REQUIRE(t, store.write("IP Address", "\xE4\xF6\xFC"), "write failed");
             Key key;
             REQUIRE(t, openKey(key, kPath, KEY_QUERY_VALUE | KEY_WOW64_32KEY) == ERROR_SUCCESS, "cannot open the key");
             wchar_t wide[8] = {};
             DWORD length = sizeof wide;
             DWORD type = REG_NONE;
             const LONG result =
                 RegQueryValueExW(key.handle, L"IP Address", nullptr, &type, reinterpret_cast<BYTE *>(wide), &length);
             REQUIRE(t, result == ERROR_SUCCESS, "wide query failed: error " + std::to_string(result));
             CHECK(t, length == 3 * sizeof(wchar_t) && std::wstring_view(wide, 3) == L"\u00E4\u00F6\u00FC",
                   "stored as " + std::to_string(length) + " bytes of UTF-16, not as U+00E4 U+00F6 U+00FC");
         }});

    cases.push_back({"an empty text is written with length 0 and reads as not found", [&store](Checks &t) {
                         REQUIRE(t, store.write("Ramp Stop Freq", "20"), "first write failed");
                         REQUIRE(t, store.read("Ramp Stop Freq") == "20"s, "the first write does not read back");
                         CHECK(t, store.write("Ramp Stop Freq", ""), "writing the empty text failed");
                         const RawValue raw = rawQuery("Ramp Stop Freq");
                         REQUIRE(t, raw.result == ERROR_SUCCESS,
                                 "the value is gone: error " + std::to_string(raw.result));
                         CHECK(t, raw.type == REG_SZ, "stored as type " + std::to_string(raw.type));
                         CHECK(t, raw.data.empty(), "stored " + quoted(raw.data) + " instead of no bytes");
                         const auto read = store.read("Ramp Stop Freq");
                         CHECK(t, !read, "reads " + shown(read));
                     }});
}

// Values stored by another tool, by type and data.
void addStoredValueCases(std::vector<TestCase> &cases, const AnsiRegistryStore &store)
{
    struct StoredValue {
        std::string label;
        DWORD type;
        std::string data;
        std::optional<std::string> expected;
    };
    const std::vector<StoredValue> storedValues = {
        {"REG_SZ \"12.34\" without a terminating zero", REG_SZ, "12.34", "12.34"},
        {"REG_SZ \"12.34\" with a terminating zero", REG_SZ, "12.34\0"s, "12.34"},
        {"REG_SZ with two terminating zeros (only one is dropped)", REG_SZ, "12.34\0\0"s, "12.34\0"s},
        {"REG_SZ of length 0", REG_SZ, "", std::nullopt},
        {"REG_SZ holding only a zero byte", REG_SZ, "\0"s, std::nullopt},
        {"REG_SZ of 1023 bytes and a terminating zero", REG_SZ, std::string(1023, 'y') + '\0', std::string(1023, 'y')},
        {"REG_SZ of 1024 bytes", REG_SZ, std::string(1024, 'y'), std::string(1024, 'y')},
        {"REG_SZ of 1025 bytes", REG_SZ, std::string(1025, 'y'), std::nullopt},
        {"REG_SZ of 1024 bytes and a terminating zero", REG_SZ, std::string(1024, 'y') + '\0', std::nullopt},
        {"REG_SZ of 5000 bytes", REG_SZ, std::string(5000, 'y'), std::nullopt},
        {"REG_DWORD 80", REG_DWORD, littleEndian(80, 4), "80"},
        {"REG_DWORD 0x105", REG_DWORD, littleEndian(0x105, 4), "261"},
        {"REG_DWORD 0", REG_DWORD, littleEndian(0, 4), "0"},
        {"REG_DWORD 0xFFFFFFFF", REG_DWORD, littleEndian(0xFFFFFFFFu, 4), "4294967295"},
        {"REG_DWORD of length 0", REG_DWORD, "", std::nullopt},
        {"REG_DWORD_BIG_ENDIAN 0x105", REG_DWORD_BIG_ENDIAN, "\0\0\x01\x05"s, "261"},
        {"REG_QWORD 0x100000105", REG_QWORD, littleEndian(0x100000105ull, 8), "4294967557"},
        {"REG_EXPAND_SZ with a variable, not expanded", REG_EXPAND_SZ, "%TEMP%\\a\0"s, "%TEMP%\\a"},
        {"REG_MULTI_SZ, its first string", REG_MULTI_SZ, "first\0second\0\0"s, "first"},
        {"REG_MULTI_SZ without strings", REG_MULTI_SZ, "\0\0"s, std::nullopt},
        {"REG_BINARY with the bytes of a text", REG_BINARY, "12.34", "12.34"},
        {"REG_BINARY of 1024 bytes", REG_BINARY, std::string(1024, 'b'), std::string(1024, 'b')},
        {"REG_BINARY of 1025 bytes", REG_BINARY, std::string(1025, 'b'), std::nullopt},
        {"REG_BINARY holding one zero byte", REG_BINARY, "\0"s, std::nullopt},
        {"REG_NONE of length 0", REG_NONE, "", std::nullopt},
    };
    for (const StoredValue &row : storedValues) {
        cases.push_back({"reads " + row.label + " as " + shown(row.expected), [&store, row](Checks &t) {
                             const LONG set = rawSet("System Clock", row.type, row.data);
                             REQUIRE(t, set == ERROR_SUCCESS, "cannot store the value: error " + std::to_string(set));
                             const RawValue raw = rawQuery("System Clock");
                             REQUIRE(t, raw.result == ERROR_SUCCESS && raw.type == row.type && raw.data == row.data,
                                     "the value was not stored as given, it holds " + quoted(raw.data));
                             const auto read = store.read("System Clock");
                             CHECK(t, read == row.expected, "reads " + shown(read));
                         }});
    }
}

// What the store does when the registry refuses it.
void addRefusalCases(std::vector<TestCase> &cases, const AnsiRegistryStore &store)
{
    // What the store can do on a key whose DACL grants everyone (and nobody
    // else) the given rights; a read asks for 0x2003F, a write for full access.
    // A DACL of exactly 0x2003F (reads work, writes do not) cannot be shown
    // here: under Wine the test runs as an administrator, who is granted
    // delete, write-DAC and write-owner access whatever the DACL says.
    struct Access {
        std::string label;
        std::string sddl;
        bool reads;
        bool writes;
    };
    const std::vector<Access> accesses = {
        {"read access only", "D:P(A;;KR;;;WD)", false, false},
        {"full access", "D:P(A;;KA;;;WD)", true, true},
    };
    for (const Access &row : accesses) {
        const std::string label = "with "s + row.label + " to the key the store "
            + (row.reads ? "reads" : "cannot read") + " and " + (row.writes ? "writes" : "cannot write");
        cases.push_back(
            {label, [&store, row](Checks &t) {
                 REQUIRE(t, store.write("Frequency", "12.34"), "write failed");
                 {
                     const KeySecurity restricted(t, row.sddl.c_str());
                     const RawValue raw = rawQuery("Frequency");
                     REQUIRE(t, raw.result == ERROR_SUCCESS && raw.data == "12.34",
                             "the value cannot be read with read access: error " + std::to_string(raw.result));
                     const auto read = store.read("Frequency");
                     CHECK(t, read == (row.reads ? std::optional("12.34"s) : std::nullopt), "reads " + shown(read));
                     CHECK(t, store.write("Frequency", "99") == row.writes,
                           row.writes ? "the write failed" : "the write succeeded");
                 }
                 const std::string expected = row.writes ? "99" : "12.34";
                 CHECK(t, store.read("Frequency") == expected,
                       "with full access the value reads " + shown(store.read("Frequency")) + ", not "
                           + quoted(expected));
             }});
    }

    cases.push_back({"a write that cannot set its value fails and changes nothing", [&store](Checks &t) {
                         REQUIRE(t, store.write("Ramp Rate", "5"), "write failed");
                         // Value names are limited to 16383 characters.
                         const std::string tooLong(20000, 'n');
                         CHECK(t, !store.write(tooLong, "1"), "writing a value with a 20000-character name succeeded");
                         CHECK(t, store.read("Ramp Rate") == "5"s, "the other value changed");
                     }});

    cases.push_back({"a store on a key that cannot be opened reads nothing and cannot write", [](Checks &t) {
                         const AnsiRegistryStore broken(nullptr, kPath);
                         CHECK(t, !broken.write("Frequency", "1"), "write succeeded");
                         CHECK(t, !broken.read("Frequency"), "read found something");
                     }});
}

// The key handles the store opens: none stays open.
void addHandleCases(std::vector<TestCase> &cases, const AnsiRegistryStore &store)
{
    cases.push_back({"every call closes the key it opened", [&store](Checks &t) {
                         // Wine's GetProcessHandleCount always gives 0, so a leak is seen
                         // from the handle values instead: new handles take the slots that
                         // closed ones left, so a handle left open shows as a slot missing
                         // from the free slots that a batch of probe handles takes.
                         const auto probeHandles = [] {
                             std::vector<HANDLE> events;
                             for (int i = 0; i < 16; ++i)
                                 events.push_back(CreateEventA(nullptr, FALSE, FALSE, nullptr));
                             for (const HANDLE event : events)
                                 CloseHandle(event);
                             std::sort(events.begin(), events.end());
                             return events;
                         };
                         const auto shownHandles = [](const std::vector<HANDLE> &handles) {
                             std::string text;
                             for (const HANDLE handle : handles)
                                 text += " " + std::to_string(reinterpret_cast<std::uintptr_t>(handle));
                             return text;
                         };
                         // The first use of HKEY_LOCAL_MACHINE opens a handle that stays.
                         (void)store.write("Ramp Step", "1");
                         (void)store.read("Ramp Step");
                         const std::vector<HANDLE> before = probeHandles();
                         REQUIRE(t, before.front() != nullptr, "cannot create an event");
                         (void)store.write("Ramp Step", "2");
                         (void)store.read("Ramp Step");
                         (void)store.read("no such value");
                         (void)store.write(std::string(20000, 'n'), "1");
                         const std::vector<HANDLE> after = probeHandles();
                         CHECK(t, after == before,
                               "a key handle stayed open: free handle slots before the calls" + shownHandles(before)
                                   + ", after them" + shownHandles(after));
                     }});
}

std::vector<TestCase> allCases(const AnsiRegistryStore &store)
{
    std::vector<TestCase> cases;
    for (const auto add : {addKeyCases, addWrittenTextCases, addStoredValueCases, addRefusalCases, addHandleCases})
        add(cases, store);
    return cases;
}

} // namespace

int main()
{
    // Unbuffered, so that every line printed is seen even if the program dies.
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    int passed = 0;
    int failed = 0;
    const AnsiRegistryStore store;
    for (const TestCase &testCase : allCases(store)) {
        Checks checks(testCase.name);
        for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            const LONG cleared = deleteKwTree(view);
            checks.check(cleared == ERROR_SUCCESS, __LINE__,
                         "cannot remove HKLM\\SOFTWARE\\KW before the case: error " + std::to_string(cleared));
        }
        try {
            if (checks.failures() == 0)
                testCase.run(checks);
        } catch (const CaseAborted &) {
        } catch (const std::exception &error) {
            checks.check(false, __LINE__, "exception: "s + error.what());
        }
        if (checks.failures() == 0)
            ++passed;
        else
            ++failed;
    }
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
        deleteKwTree(view);

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

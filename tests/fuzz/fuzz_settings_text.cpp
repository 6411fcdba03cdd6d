// Arbitrary bytes as a settings file and as a port list item.
#include <cstdint>
#include <cstring>
#include <memory>

#include "serial/win32_port_names.h"
#include "settings/settings.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/reference_number.h"

namespace {

// White space as "%u" skips it in the C locale.
bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads one to nine digits at `at`; false when there are none or more.
bool TakeShortNumber(const char* text, size_t length, size_t& at, uint32_t& number) {
    size_t first = at;
    number = 0;
    for (; at < length && text[at] >= '0' && text[at] <= '9'; ++at) {
        number = number * 10 + static_cast<uint32_t>(text[at] - '0');
    }
    return at > first && at - first <= 9;
}

// Matches ^\s*\d{1,9}\s+\d{1,9}\s*$, the shape a saved file has.
bool IsPlainPair(const char* text, size_t length, Settings& pair) {
    size_t at = 0;
    while (at < length && IsWhiteSpace(text[at])) ++at;
    if (!TakeShortNumber(text, length, at, pair.port)) return false;
    size_t gap = at;
    while (at < length && IsWhiteSpace(text[at])) ++at;
    if (at == gap || !TakeShortNumber(text, length, at, pair.baudRate)) return false;
    while (at < length && IsWhiteSpace(text[at])) ++at;
    return at == length;
}

// What ParseSettingsText should make of `terminated` (the text plus a NUL).
Settings ReferenceSettings(const char* terminated, Settings settings) {
    uint32_t* fields[] = {&settings.port, &settings.baudRate, &settings.webPort};
    const char* at = terminated;
    for (uint32_t* field : fields) {
        uint32_t value = 0;
        ReferenceNumber read = ReferenceReadUnsigned(at, &value, &at);
        if (read == ReferenceNumber::None) break;
        if (read == ReferenceNumber::Value) *field = value;
        if (read == ReferenceNumber::Value && field == &settings.webPort) settings.webPortInFile = true;
    }
    return settings;
}

// Previous values that differ from input to input.
uint32_t Fnv1a(const char* text, size_t length) {
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < length; ++i) hash = (hash ^ static_cast<uint8_t>(text[i])) * 16777619u;
    return hash;
}

// Parses the text over two sets of previous values and holds the results
// against the reference. The text sits in a buffer of exactly its length, so
// reading past it is caught.
void CheckSettingsText(const char* bytes, size_t length) {
    std::unique_ptr<char[]> text(new char[length]);
    std::memcpy(text.get(), bytes, length);
    std::unique_ptr<char[]> terminated(new char[length + 1]);
    std::memcpy(terminated.get(), bytes, length);
    terminated[length] = '\0';

    uint32_t hash = Fnv1a(bytes, length);
    const Settings before[] = {{0, 0}, {hash | 1u, ~hash | 1u, hash ^ 0x5555u, false}};
    Settings after[2];
    for (int i = 0; i < 2; ++i) {
        after[i] = before[i];
        ParseSettingsText(text.get(), length, after[i]);
        Settings expected = ReferenceSettings(terminated.get(), before[i]);
        FUZZ_CHECK(after[i].port == expected.port && after[i].baudRate == expected.baudRate);
        FUZZ_CHECK(after[i].webPort == expected.webPort && after[i].webPortInFile == expected.webPortInFile);
    }
    // A field that was not read keeps whatever it held; one that was read
    // holds the same number whatever it held.
    FUZZ_CHECK(after[0].port == after[1].port || (after[0].port == before[0].port && after[1].port == before[1].port));
    FUZZ_CHECK(after[0].baudRate == after[1].baudRate ||
               (after[0].baudRate == before[0].baudRate && after[1].baudRate == before[1].baudRate));

    Settings pair = {0, 0};
    if (IsPlainPair(text.get(), length, pair)) {
        for (const Settings& s : after) FUZZ_CHECK(s.port == pair.port && s.baudRate == pair.baudRate);
    }
}

// Reads the input as a port name, a C string (up to its first NUL), in a
// buffer just long enough.
void CheckPortItem(const char* bytes, size_t length) {
    std::unique_ptr<char[]> text(new char[length + 1]);
    std::memcpy(text.get(), bytes, length);
    text[length] = '\0';

    const char* digit = text.get();
    while (*digit != '\0' && (*digit < '0' || *digit > '9')) ++digit;
    uint32_t expected = 0;
    const char* end = nullptr;
    bool expectNumber = ReferenceReadUnsigned(digit, &expected, &end) == ReferenceNumber::Value;

    uint32_t port = 0;
    FUZZ_CHECK(ParsePortName(text.get(), &port) == expectNumber);
    if (expectNumber) FUZZ_CHECK(port == expected);
}

}  // namespace

// The input as it is, the same without its NUL bytes, and as a port list item.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    CheckSettingsText(bytes, size);
    std::unique_ptr<char[]> withoutNuls(new char[size]);
    size_t kept = 0;
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] != '\0') withoutNuls[kept++] = bytes[i];
    }
    CheckSettingsText(withoutNuls.get(), kept);
    CheckPortItem(bytes, size);
    return 0;
}

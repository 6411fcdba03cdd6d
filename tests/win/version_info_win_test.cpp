// The file properties Windows shows for Vintra.exe, read the way Explorer
// reads them, must name the product and carry the project's version.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

// One string of the US English block, or "" when missing.
std::string VersionString(const std::vector<char>& info, const char* name) {
    char* value = nullptr;
    UINT length = 0;
    std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || !value) return "";
    return std::string(value, length > 0 ? length - 1 : 0);
}

TEST(VersionInfo, NamesTheProductAndCarriesTheProjectVersion) {
    const char* exe = VINTRA_EXE_PATH;
    DWORD size = GetFileVersionInfoSizeA(exe, nullptr);
    ASSERT_GT(size, 0u) << "no version resource in " << exe;
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(exe, 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    char numbers[64];
    snprintf(numbers, sizeof numbers, "%u.%u.%u", unsigned{HIWORD(fixed->dwFileVersionMS)},
             unsigned{LOWORD(fixed->dwFileVersionMS)}, unsigned{HIWORD(fixed->dwFileVersionLS)});
    EXPECT_EQ(std::string(numbers), VINTRA_VERSION);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);

    const struct {
        const char* name;
        std::string expected;
    } strings[] = {{"ProductName", "Vintra"},
                   {"FileVersion", VINTRA_VERSION},
                   {"ProductVersion", VINTRA_VERSION},
                   {"OriginalFilename", "Vintra.exe"}};
    for (const auto& s : strings) EXPECT_EQ(VersionString(info, s.name), s.expected) << s.name;
    EXPECT_NE(VersionString(info, "FileDescription").find("Vintra"), std::string::npos);
}

}  // namespace

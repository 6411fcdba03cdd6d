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

namespace {

// One setting of Vintra.exe's manifest as the loader reads it when the
// program starts: through an activation context made from the resource, so
// a manifest Windows cannot parse (which stops the program from starting at
// all) fails here too. "" when the context or the setting (in namespace
// `ns`) is missing.
std::wstring ManifestSetting(const wchar_t* ns, const wchar_t* name) {
    ACTCTXA context = {};
    context.cbSize = sizeof context;
    context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.lpSource = VINTRA_EXE_PATH;
    context.lpResourceName = MAKEINTRESOURCEA(1);
    HANDLE made = CreateActCtxA(&context);
    if (made == INVALID_HANDLE_VALUE) return L"";
    wchar_t value[64] = {};
    SIZE_T written = 0;
    BOOL found = QueryActCtxSettingsW(0, made, ns, name, value, 63, &written);
    ReleaseActCtx(made);
    return found ? std::wstring(value) : L"";
}

TEST(Manifest, DeclaresPerMonitorDpiAwarenessWithTheOlderFallback) {
    HMODULE image = LoadLibraryExA(VINTRA_EXE_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    EXPECT_NE(FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)), nullptr) << "no RT_MANIFEST 1";
    FreeLibrary(image);
    EXPECT_EQ(ManifestSetting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness"),
              L"PerMonitorV2");
    EXPECT_EQ(ManifestSetting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"), L"true/pm");
}

}  // namespace

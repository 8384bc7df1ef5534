// The version resource linked into this executable, as Explorer's
// properties page reads it: the project's version in the fixed part and in
// the English strings, and the program's own file name. Then the manifest,
// as the loader reads it: per-monitor DPI awareness.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zorve_version.h"

namespace {

std::vector<BYTE> version_block() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    std::vector<BYTE> block(size);
    if (size == 0 || !GetFileVersionInfoA(path, 0, size, block.data())) block.clear();
    return block;
}

std::string text(std::vector<BYTE>& block, const char* name) {
    char* value = nullptr;
    UINT length = 0;
    const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || !value) return "";
    return value;
}

TEST(VersionResource, FixedPartHoldsTheProjectVersion) {
    std::vector<BYTE> block = version_block();
    ASSERT_FALSE(block.empty()) << "no version resource";
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const std::string dotted = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                               std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                               std::to_string(HIWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(dotted, ZORVE_VERSION);
    EXPECT_EQ(LOWORD(fixed->dwFileVersionLS), 0);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));
}

TEST(VersionResource, StringsNameTheProgramAndVersion) {
    std::vector<BYTE> block = version_block();
    ASSERT_FALSE(block.empty());
    EXPECT_EQ(text(block, "FileVersion"), ZORVE_VERSION);
    EXPECT_EQ(text(block, "ProductVersion"), ZORVE_VERSION);
    EXPECT_EQ(text(block, "ProductName"), "zorve-button");
    EXPECT_EQ(text(block, "OriginalFilename"), "zorve-button.exe");
    EXPECT_EQ(text(block, "LegalCopyright"), "Copyright 2026 The zorve-button developers (MIT licence)");
}

std::string manifest_text() {
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
    HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    return data ? std::string(data, SizeofResource(nullptr, found)) : "";
}

TEST(Manifest, DeclaresPerMonitorDpiAwareness) {
    const std::string text = manifest_text();
    ASSERT_FALSE(text.empty()) << "no manifest resource";
    EXPECT_NE(text.find(">true/pm</dpiAware>"), std::string::npos) << text;
    EXPECT_NE(text.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos) << text;
    EXPECT_NE(text.find("version=\"" ZORVE_VERSION ".0\""), std::string::npos) << text;
    // The loader took it: the process is DPI-aware without asking at run time.
    EXPECT_TRUE(IsProcessDPIAware());
}

}  // namespace

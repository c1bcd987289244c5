// The version information that Windows shows for the built program.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string string_value(const std::vector<char>& info, const char* name) {
    char* value = nullptr;
    UINT length = 0;
    std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || length == 0)
        return "";
    return std::string(value);
}

TEST(version_resource, the_program_carries_1_13_as_product_and_file_version) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(TONQUEL_EXE, &ignored);
    ASSERT_GT(size, 0u) << TONQUEL_EXE;
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(TONQUEL_EXE, 0, size, info.data()));
    EXPECT_EQ(string_value(info, "ProductVersion"), "1.13");
    EXPECT_EQ(string_value(info, "FileVersion"), "1.13");

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(HIWORD(fixed->dwProductVersionMS), 1);
    EXPECT_EQ(LOWORD(fixed->dwProductVersionMS), 13);
    EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), 1);
    EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), 13);
}

}  // namespace

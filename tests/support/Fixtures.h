// Paths of the audio fixtures and throwaway copies of them.
#pragma once

#include "TestPaths.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

inline std::wstring FixturePath(const std::wstring& name)
{
    return std::wstring(QUILLORN_FIXTURES_DIR) + L"\\" + name;
}

inline std::wstring ScratchPath(const std::wstring& name)
{
    return std::wstring(QUILLORN_SCRATCH_DIR) + L"\\" + name;
}

// Copies a fixture to the scratch folder under a new name and returns the path;
// the copy is writable whatever the original's attributes.
inline std::wstring ScratchCopy(const std::wstring& fixture, const std::wstring& name)
{
    const std::wstring target = ScratchPath(name);
    ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(::CopyFileW(FixturePath(fixture).c_str(), target.c_str(), FALSE)) << ::GetLastError();
    ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    return target;
}

// A test-unique copy: the test's name keeps parallel or repeated runs apart.
inline std::wstring ScratchCopy(const std::wstring& fixture)
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string prefix = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : prefix)
    {
        if (c == '/' || c == '\\' || c == ':')
            c = '_';
    }
    return ScratchCopy(fixture, std::wstring(prefix.begin(), prefix.end()) + L"." + fixture);
}

inline std::string ReadAll(const std::wstring& path)
{
    std::string bytes;
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    ::CloseHandle(file);
    return bytes;
}

// HRESULTs of the component that have no name of their own in the SDK.
#pragma once

#include <windows.h>

// HRESULT_FROM_WIN32(ERROR_BAD_ENVIRONMENT): the method needs an open file.
constexpr HRESULT QUILLORN_E_NO_FILE_OPEN = static_cast<HRESULT>(0x8007000AL);
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND): no such file, or the path is a folder.
constexpr HRESULT QUILLORN_E_FILE_NOT_FOUND = static_cast<HRESULT>(0x80070002L);
// HRESULT_FROM_WIN32(ERROR_WRITE_FAULT): setting a tag or saving the file failed.
constexpr HRESULT QUILLORN_E_WRITE_FAULT = static_cast<HRESULT>(0x8007001DL);

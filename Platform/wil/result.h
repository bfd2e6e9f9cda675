// One error path: HRESULT in, HRESULT out.
#pragma once

#include <windows.h>
#include <new>

#define RETURN_IF_FAILED(expr)                                                                     \
    do                                                                                             \
    {                                                                                              \
        const HRESULT hr_ = (expr);                                                                \
        if (FAILED(hr_))                                                                           \
            return hr_;                                                                            \
    } while (0)

#define RETURN_HR_IF(hr, condition)                                                                \
    do                                                                                             \
    {                                                                                              \
        if (condition)                                                                             \
            return (hr);                                                                           \
    } while (0)

#define RETURN_HR_IF_NULL(hr, ptr) RETURN_HR_IF((hr), (ptr) == nullptr)

#define RETURN_IF_WIN32_ERROR(expr)                                                                \
    do                                                                                             \
    {                                                                                              \
        const LONG err_ = (expr);                                                                  \
        if (err_ != ERROR_SUCCESS)                                                                 \
            return HRESULT_FROM_WIN32(err_);                                                       \
    } while (0)

namespace wil
{
    // Maps the exception being handled to an HRESULT; use only inside a catch block.
    inline HRESULT ResultFromCaughtException() noexcept
    {
        try
        {
            throw;
        }
        catch (const std::bad_alloc&)
        {
            return E_OUTOFMEMORY;
        }
        catch (...)
        {
            return E_UNEXPECTED;
        }
    }
}

// Ends a try block at a COM boundary: no exception leaves the method.
#define CATCH_RETURN()                                                                             \
    catch (...)                                                                                    \
    {                                                                                              \
        return wil::ResultFromCaughtException();                                                   \
    }

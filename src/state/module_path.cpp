#include "state/module_path.h"

#include <cstddef>
#include <cstring>

namespace korvane {
namespace {

// Offsets of the last backslash (or slash) and of the last '.', stepping over
// double-byte characters so that a trail byte equal to '\\' or '.' in a
// double-byte code page is never taken for one.
void FindSeparators(const char* path, ptrdiff_t* lastSlash, ptrdiff_t* lastDot) {
    *lastSlash = -1;
    *lastDot = -1;
    for (const char* p = path; *p;) {
        if (*p == '\\' || *p == '/') *lastSlash = p - path;
        if (*p == '.') *lastDot = p - path;
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) {
            p += 2;
        } else {
            ++p;
        }
    }
}

void Clear(char* result, size_t size) {
    if (result && size > 0) result[0] = '\0';
}

bool CopyPrefix(const char* path, size_t length, const char* suffix, char* result, size_t size) {
    if (!result || size == 0) return false;
    Clear(result, size);
    const size_t suffixLength = std::strlen(suffix);
    if (length + suffixLength + 1 > size) return false;
    std::memcpy(result, path, length);
    std::memcpy(result + length, suffix, suffixLength + 1);
    return true;
}

}  // namespace

HRESULT GetModulePath(HMODULE module, char* path, size_t size) noexcept {
    if (!path || size == 0) return E_POINTER;
    path[0] = '\0';
    const DWORD capacity = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(size);
    const DWORD length = GetModuleFileNameA(module, path, capacity);
    if (length == 0) {
        const DWORD error = GetLastError();
        return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    // A cut path is reported by a length equal to the buffer size (and on
    // old systems without a terminator).
    if (length >= capacity) {
        path[0] = '\0';
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    return S_OK;
}

bool TypeLibraryFallbackPath(const char* path, char* result, size_t size) noexcept {
    if (!path) {
        Clear(result, size);
        return false;
    }
    ptrdiff_t lastSlash, lastDot;
    FindSeparators(path, &lastSlash, &lastDot);
    const size_t stem = lastDot > lastSlash ? static_cast<size_t>(lastDot) : std::strlen(path);
    return CopyPrefix(path, stem, ".tlb", result, size);
}

bool DirectoryPart(const char* path, char* result, size_t size) noexcept {
    if (!path) {
        Clear(result, size);
        return false;
    }
    ptrdiff_t lastSlash, lastDot;
    FindSeparators(path, &lastSlash, &lastDot);
    return CopyPrefix(path, static_cast<size_t>(lastSlash + 1), "", result, size);
}

AnsiString LibraryDirectory() {
    HMODULE module = GetModuleHandleA("Korvane.dll");
    AnsiString path;
    for (DWORD size = MAX_PATH;; size *= 2) {
        path.Allocate(size);
        const DWORD length = GetModuleFileNameA(module, path.data(), size);
        if (length == 0) return AnsiString();
        if (length < size) {
            const char* slash = std::strrchr(path.c_str(), '\\');
            if (!slash) return AnsiString();
            path.Truncate(static_cast<size_t>(slash - path.c_str()) + 1);
            return path;
        }
        if (size >= 32768) return AnsiString();
    }
}

}  // namespace korvane

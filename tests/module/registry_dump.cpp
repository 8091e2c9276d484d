#include "registry_dump.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace korvane::test {
namespace {

std::string Hex(const void* data, size_t size) {
    std::string text;
    const auto* bytes = static_cast<const unsigned char*>(data);
    char pair[3];
    for (size_t i = 0; i < size; ++i) {
        snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

std::string HexName(const std::wstring& name) { return Hex(name.data(), name.size() * 2); }

void Dump(HKEY key, const std::string& label, std::vector<std::string>* lines) {
    lines->push_back(label);
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD nameLength = 16384;
        DWORD type = 0;
        DWORD size = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(size + 1);
        DWORD read = size;
        RegQueryValueExW(key, name, nullptr, &type, data.data(), &read);
        lines->push_back(label + " @" + HexName(std::wstring(name, nameLength)) + " " +
                         std::to_string(type) + " " + Hex(data.data(), read));
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        children.emplace_back(name, length);
    }
    for (const std::wstring& child : children) {
        HKEY sub = nullptr;
        if (RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, &sub) != ERROR_SUCCESS) {
            lines->push_back(label + "\\" + HexName(child) + " <unreadable>");
            continue;
        }
        Dump(sub, label + "\\" + HexName(child), lines);
        RegCloseKey(sub);
    }
}

}  // namespace

std::string DumpKey(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "<absent>";
    std::vector<std::string> lines;
    Dump(key, "", &lines);
    RegCloseKey(key);
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

}  // namespace korvane::test

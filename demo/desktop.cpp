#include "demo/desktop.h"

#include <cstring>

#include "base/unique_resource.h"

namespace demo {
namespace {

namespace traits {
struct ScreenDc {
    static HDC Invalid() noexcept { return nullptr; }
    static void Close(HDC dc) noexcept { ReleaseDC(nullptr, dc); }
};
struct MemoryDc {
    static HDC Invalid() noexcept { return nullptr; }
    static void Close(HDC dc) noexcept { DeleteDC(dc); }
};
struct GdiObject {
    static HGDIOBJ Invalid() noexcept { return nullptr; }
    static void Close(HGDIOBJ object) noexcept { DeleteObject(object); }
};
}  // namespace traits

using UniqueScreenDc = korvane::UniqueResource<HDC, traits::ScreenDc>;
using UniqueMemoryDc = korvane::UniqueResource<HDC, traits::MemoryDc>;
using UniqueGdiObject = korvane::UniqueResource<HGDIOBJ, traits::GdiObject>;

bool OwnedByIconProcess(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process == IconProcess();
}

// The colour a little above the middle of an icon: inside the red sign and
// on the green tick's stroke.
DWORD IconPixel(const Picture& picture, const RECT& pictureArea, HWND icon) {
    RECT rect{};
    GetWindowRect(icon, &rect);
    const int x = (rect.left + rect.right) / 2 - pictureArea.left;
    const int y = (rect.top + rect.bottom) / 2 - 5 - pictureArea.top;
    if (x < 0 || y < 0 || x >= picture.width || y >= picture.height) return 0;
    return picture.At(x, y);
}

}  // namespace

DWORD IconProcess() {
    DWORD process = GetCurrentProcessId();
    if (HWND broker = FindWindowA("KorvaneBroker", nullptr)) GetWindowThreadProcessId(broker, &process);
    return process;
}

HWND IconTrayWindow() {
    for (HWND window = FindWindowExA(nullptr, nullptr, "TrayIconClass", nullptr); window;
         window = FindWindowExA(nullptr, window, "TrayIconClass", nullptr))
        if (OwnedByIconProcess(window)) return window;
    return nullptr;
}

HWND WaitForIconDialog(const char* title, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    do {
        for (HWND window = FindWindowExA(nullptr, nullptr, "#32770", title); window;
             window = FindWindowExA(nullptr, window, "#32770", title))
            if (OwnedByIconProcess(window) && IsWindowVisible(window)) return window;
        Sleep(20);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

bool WaitForWindowGone(HWND window, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (IsWindow(window)) {
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(20);
    }
    return true;
}

void PressButton(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::vector<std::string> ListBoxItems(HWND list) {
    std::vector<std::string> items;
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        if (length < 0) continue;
        std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
        SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&wide[0]));
        char item[4096] = {};
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, item, sizeof item, nullptr, nullptr);
        items.push_back(item);
    }
    return items;
}

Picture TakePicture(const RECT& area) {
    Picture picture;
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0) return picture;
    UniqueScreenDc screen(GetDC(nullptr));
    UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
    if (!screen || !memory) return picture;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    UniqueGdiObject bitmap(CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits) return picture;
    const HGDIOBJ previous = SelectObject(memory.get(), bitmap.get());
    const BOOL copied = BitBlt(memory.get(), 0, 0, width, height, screen.get(), area.left, area.top,
                               SRCCOPY | CAPTUREBLT);
    GdiFlush();
    SelectObject(memory.get(), previous);
    if (!copied) return picture;
    const DWORD* source = static_cast<const DWORD*>(bits);
    picture.width = width;
    picture.height = height;
    picture.pixels.assign(source, source + static_cast<size_t>(width) * height);
    for (DWORD& pixel : picture.pixels) pixel &= 0x00FFFFFF;
    return picture;
}

Picture TakeWindowPicture(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    // The window paints on its own thread; give it and the X server time.
    Sleep(400);
    RECT rect{};
    GetWindowRect(window, &rect);
    return TakePicture(rect);
}

Picture SideBySide(const std::vector<Picture>& pictures, int gap, DWORD background) {
    Picture strip;
    for (const Picture& picture : pictures) {
        strip.width += picture.width + (strip.width ? gap : 0);
        if (picture.height > strip.height) strip.height = picture.height;
    }
    if (strip.width <= 0 || strip.height <= 0) return Picture();
    strip.pixels.assign(static_cast<size_t>(strip.width) * strip.height, background);
    int left = 0;
    for (const Picture& picture : pictures) {
        for (int y = 0; y < picture.height; ++y)
            for (int x = 0; x < picture.width; ++x)
                strip.pixels[static_cast<size_t>(y) * strip.width + left + x] = picture.At(x, y);
        left += picture.width + gap;
    }
    return strip;
}

bool SaveBmp(const Picture& picture, const std::string& path) {
    if (picture.width <= 0 || picture.height <= 0) return false;
    const DWORD rowBytes = (static_cast<DWORD>(picture.width) * 3 + 3) & ~3u;
    const DWORD imageBytes = rowBytes * static_cast<DWORD>(picture.height);
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER header{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + imageBytes;
    header.biSize = sizeof header;
    header.biWidth = picture.width;
    header.biHeight = picture.height;  // bottom row first, as BMP files have it
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = imageBytes;
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&header), sizeof header);
    std::string row(rowBytes, '\0');
    for (int y = picture.height - 1; y >= 0; --y) {
        for (int x = 0; x < picture.width; ++x) {
            const DWORD pixel = picture.At(x, y);
            row[static_cast<size_t>(x) * 3] = static_cast<char>(pixel & 0xFF);
            row[static_cast<size_t>(x) * 3 + 1] = static_cast<char>((pixel >> 8) & 0xFF);
            row[static_cast<size_t>(x) * 3 + 2] = static_cast<char>((pixel >> 16) & 0xFF);
        }
        bytes += row;
    }
    korvane::UniqueFile out(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return false;
    DWORD written = 0;
    return WriteFile(out.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

std::vector<HWND> NotificationAreaIcons() {
    std::vector<HWND> icons;
    HWND area = FindWindowA("__winex11_standalone_tray", nullptr);
    if (!area) return icons;
    for (HWND child = FindWindowExA(area, nullptr, "__winex11_tray_icon", nullptr); child;
         child = FindWindowExA(area, child, "__winex11_tray_icon", nullptr))
        if (IsWindowVisible(child)) icons.push_back(child);
    return icons;
}

RECT IconsArea(const std::vector<HWND>& icons) {
    RECT all{};
    for (HWND icon : icons) {
        RECT rect{};
        GetWindowRect(icon, &rect);
        UnionRect(&all, &all, &rect);
    }
    InflateRect(&all, 3, 2);
    if (all.left < 0) all.left = 0;
    if (all.top < 0) all.top = 0;
    return all;
}

IconLook LookOf(const Picture& picture, const RECT& pictureArea, HWND icon) {
    const DWORD pixel = IconPixel(picture, pictureArea, icon);
    const int red = (pixel >> 16) & 0xFF, green = (pixel >> 8) & 0xFF;
    if (red > 150 && green < 100) return IconLook::Blocking;
    if (green > 100 && red < 100) return IconLook::Allowing;
    return IconLook::Other;
}

Flash WatchFlash(DWORD milliseconds) {
    Flash flash;
    const std::vector<HWND> icons = NotificationAreaIcons();
    if (icons.empty()) return flash;
    const RECT area = IconsArea(icons);
    IconLook last = IconLook::Other;
    bool first = true;
    const DWORD start = GetTickCount();
    DWORD lastChange = start;
    while (GetTickCount() - start < milliseconds) {
        // The flash changes the icon every 200 ms: the blocking icon kept
        // for longer after the allowing one has shown means it is over.
        if (flash.sawAllowing && last == IconLook::Blocking && GetTickCount() - lastChange > 700) break;
        Picture picture = TakePicture(area);
        if (picture.width == 0) break;
        // Korvane's icon is the one that shows either of its two looks.
        IconLook look = IconLook::Other;
        for (HWND icon : icons) {
            look = LookOf(picture, area, icon);
            if (look != IconLook::Other) break;
        }
        if (look == IconLook::Allowing) flash.sawAllowing = true;
        if (first || look != last) {
            flash.frames.push_back(std::move(picture));
            lastChange = GetTickCount();
        }
        first = false;
        last = look;
        Sleep(30);
    }
    flash.endedBlocking = last == IconLook::Blocking;
    return flash;
}

}  // namespace demo

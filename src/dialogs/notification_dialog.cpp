#include "dialogs/notification_dialog.h"

#include <commdlg.h>

#include <cstddef>
#include <cstring>

#include "base/system_library.h"
#include "resource.h"
#include "state/module_path.h"
#include "state/settings.h"
#include "state/shared_state.h"

namespace korvane {

namespace {
// The request without the members later systems added (the size Windows
// calls OPENFILENAME_SIZE_VERSION_400): every version of the dialog accepts
// it.
constexpr DWORD kOpenFileRequestSize = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
static_assert(kOpenFileRequestSize == (sizeof(void*) == 8 ? 136 : 76), "open-file request size");
constexpr char kWaveExtension[] = "wav";
// Loaded the first time the user chooses a file; without it nothing is
// chosen.
SystemLibrary comdlg32("comdlg32.dll");
}  // namespace

INT_PTR CALLBACK NotificationDialog::Procedure(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    return DialogProcedure<NotificationDialog>(window, message, wParam, lParam);
}

INT_PTR NotificationDialog::Show(HINSTANCE instance) {
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_NOTIFICATION), nullptr, Procedure, 0);
}

INT_PTR NotificationDialog::OnInit() {
    CheckButton(IDC_FLASH_CHECK, sharedState->flashOn != 0);
    if (sharedState->soundOn) {
        if (sharedState->soundIsBeep)
            CheckButton(IDC_BEEP_CHECK, true);
        else
            CheckButton(IDC_PLAY_CHECK, true);
    }
    return TRUE;
}

INT_PTR NotificationDialog::OnCommand(int id) {
    switch (id) {
    case IDC_CHOOSE_FILE: {
        const AnsiString path = ChooseSoundFile();
        if (!path.empty()) SetSoundFilePath(path.c_str());
        return TRUE;
    }
    case IDC_CLOSE:
        StoreAndEnd();
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR NotificationDialog::OnClose() {
    StoreAndEnd();
    return TRUE;
}

void NotificationDialog::StoreAndEnd() {
    sharedState->flashOn = IsButtonChecked(IDC_FLASH_CHECK) ? 1 : 0;
    // With neither sound box ticked the kind of sound is kept, so F9 brings
    // back the one chosen last; with both, the wave file wins.
    if (IsButtonChecked(IDC_BEEP_CHECK)) {
        sharedState->soundIsBeep = 1;
        sharedState->soundOn = 1;
    } else {
        sharedState->soundOn = 0;
    }
    if (IsButtonChecked(IDC_PLAY_CHECK)) {
        sharedState->soundIsBeep = 0;
        sharedState->soundOn = 1;
    }
    WriteSoundSetting(EncodeSoundSetting(sharedState));
    WriteFlashSetting(EncodeFlashSetting(sharedState));
    End(0);
}

AnsiString ChooseSoundFile() {
    // The filter is pairs of NUL-terminated strings, ended by an empty one.
    const AnsiString name = LoadResourceString(IDS_SOUND_FILTER_NAME);
    const AnsiString pattern = LoadResourceString(IDS_SOUND_FILTER_PATTERN);
    AnsiString filter;
    filter.Allocate(name.length() + 1 + pattern.length() + 2);
    std::memcpy(filter.data(), name.c_str(), name.length());
    std::memcpy(filter.data() + name.length() + 1, pattern.c_str(), pattern.length());

    const AnsiString title = LoadResourceString(IDS_SOUND_TITLE);
    const AnsiString directory = LibraryDirectory();
    char file[kPathBufferSize] = {};

    OPENFILENAMEA request;
    std::memset(&request, 0, sizeof request);
    request.lStructSize = kOpenFileRequestSize;
    request.lpstrFilter = filter.c_str();
    request.lpstrFile = file;
    request.nMaxFile = sizeof file;
    request.lpstrInitialDir = directory.empty() ? nullptr : directory.c_str();
    request.lpstrTitle = title.c_str();
    request.lpstrDefExt = kWaveExtension;
    request.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    auto choose = comdlg32.Find<decltype(&GetOpenFileNameA)>("GetOpenFileNameA");
    if (!choose || !choose(&request)) return AnsiString();

    AnsiString path(file);
    WriteSoundFile(path.c_str());
    return path;
}

}  // namespace korvane

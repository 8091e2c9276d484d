// Rules for the paths that settings name, as plain functions.
#pragma once

namespace korvane {

// Whether a path names something other than a file: a device, which
// Windows finds under every folder and with any extension ("CON",
// "C:\Sounds\nul.wav", "LPT1:"), the device and raw namespaces ("\\.\",
// "\\?\") or a pipe ("\\server\pipe\..."). Such a "File" setting is no
// wave file: the player would open it, and could wait on it for ever.
bool NamesDeviceOrPipe(const char* path);

}  // namespace korvane

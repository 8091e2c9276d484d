// A stand-in for the shell, the timers and the clocks that TrayIcon uses:
// it records every call with the record it was given, and answers as the
// test sets it up.
#pragma once

#include <windows.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "tray/tray_icon.h"

namespace korvane::test {

class RecordingPlatform : public TrayPlatform {
public:
    struct Call {
        std::string name;  // "add", "modify", "delete", "SetTimer", "KillTimer"
        NOTIFYICONDATAA record{};
        HWND window = nullptr;
        UINT_PTR timer = 0;
        UINT elapse = 0;
    };

    BOOL Shell_NotifyIconA(DWORD message, NOTIFYICONDATAA* data) override {
        Call call;
        call.name = message == NIM_ADD ? "add" : message == NIM_MODIFY ? "modify"
                  : message == NIM_DELETE ? "delete" : "other";
        // The shell reads the record's first form only: copy just that.
        std::memcpy(&call.record, data, NotifyRecordSize);
        calls.push_back(call);
        if (!shellAnswers.empty()) {
            const BOOL answer = shellAnswers.front();
            shellAnswers.pop_front();
            return answer;
        }
        return TRUE;
    }
    UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse) override {
        Call call;
        call.name = "SetTimer";
        call.window = window;
        call.timer = id;
        call.elapse = elapse;
        calls.push_back(call);
        return realTimers ? ::SetTimer(window, id, elapse, nullptr) : timerAnswer;
    }
    BOOL KillTimer(HWND window, UINT_PTR id) override {
        Call call;
        call.name = "KillTimer";
        call.window = window;
        call.timer = id;
        calls.push_back(call);
        return realTimers ? ::KillTimer(window, id) : killAnswer;
    }
    time_t Time() override { return now; }
    DWORD GetVersion() override { return version; }

    // The names of the calls so far, then forgets them.
    std::vector<std::string> TakeNames() {
        std::vector<std::string> names;
        for (const Call& call : calls) names.push_back(call.name);
        calls.clear();
        return names;
    }

    std::vector<Call> calls;
    std::deque<BOOL> shellAnswers;  // answers for the next shell calls; TRUE after
    UINT_PTR timerAnswer = FlashTimerId;
    BOOL killAnswer = TRUE;
    bool realTimers = false;
    time_t now = 1000000;
    DWORD version = 0x0A280105;  // 5.1
};

}  // namespace korvane::test

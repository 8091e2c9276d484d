#include "broker/broker_main.h"

#include "base/ansi_string.h"
#include "base/unique_resource.h"
#include "channel/broker_channel.h"
#include "state/integrity.h"
#include "state/shared_state.h"
#include "state/string_ring.h"

namespace korvane {
namespace {

LRESULT CALLBACK BrokerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(kBrokerEnded);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

// On the channel's thread.
void OnBrokerMessage(const BrokerMessage& message, void*) {
    switch (message.kind) {
        case BrokerMessageKind::PopupBlocked: {
            const AnsiString address(message.address, message.addressLength);
            TheBlockedPopupLog().Add(address.c_str());
            return;
        }
        case BrokerMessageKind::PopupStateChanged:
        case BrokerMessageKind::TrayIconToggled:
            return;
    }
}

}  // namespace

int RunBroker() noexcept {
    try {
        // A broker below medium integrity (started from Protected Mode
        // without its elevation policy) could do nothing the browsers
        // cannot: it ends, and the browsers do without one.
        DWORD rid = 0;
        const bool levelKnown = ProcessIntegrityRid(&rid);
        if (IntegrityBelowMedium(levelKnown, rid)) return kBrokerBelowMedium;

        const AnsiString mutexName = BrokerMutexName();
        if (mutexName.empty()) return kBrokerNoChannel;
        UniqueHandle mutex(CreateMutexA(SessionObjectSecurity(), FALSE, mutexName.c_str()));
        if (!mutex) return kBrokerNoChannel;
        // Held until the broker ends, or abandoned when it is killed: the
        // next broker takes it over then.
        const DWORD waited = WaitForSingleObject(mutex.get(), 0);
        if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return kBrokerEnded;
        ScopeExit release([&mutex] { ReleaseMutex(mutex.get()); });

        HINSTANCE instance = moduleInstance;
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = BrokerWindowProc;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kBrokerWindowClass;
        RegisterClassExA(&windowClass);
        // Never shown; it is there to be found and closed.
        UniqueHwnd window(CreateWindowExA(0, kBrokerWindowClass, "", WS_POPUP, 0, 0, 0, 0, nullptr,
                                          nullptr, instance, nullptr));
        if (!window) return kBrokerNoChannel;

        BrokerServer server;
        if (!server.Start(OnBrokerMessage, nullptr)) return kBrokerNoChannel;

        MSG message;
        int ended = kBrokerEnded;
        for (;;) {
            const BOOL got = GetMessageA(&message, nullptr, 0, 0);
            if (got == 0) {
                ended = static_cast<int>(message.wParam);
                window.release();  // destroyed already
                break;
            }
            if (got == -1) break;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        server.Stop();
        return ended;
    } catch (...) {
        return kBrokerNoChannel;
    }
}

}  // namespace korvane

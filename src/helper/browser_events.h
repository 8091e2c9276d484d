// The browser helper object's handling of DWebBrowserEvents2.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace korvane {

class ViewSource;

class BrowserEvents {
public:
    // Handles one event of the browser self is sited in; self.Invoke passes
    // every call here. Exceptions are caught by the caller.
    static HRESULT Invoke(ViewSource& self, DISPID dispId, DISPPARAMS* params);
};

}  // namespace korvane

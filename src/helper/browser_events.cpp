#include "helper/browser_events.h"

#include "helper/view_source.h"

namespace korvane {

// Every event is ignored until the popup filter is in place.
HRESULT BrowserEvents::Invoke(ViewSource&, DISPID, DISPPARAMS*) { return S_OK; }

}  // namespace korvane

#include "scanner/page_scanner.h"

namespace korvane {

HRESULT ScanPage(IWebBrowser2*, IWebBrowser2*, BYTE) { return S_OK; }

}  // namespace korvane

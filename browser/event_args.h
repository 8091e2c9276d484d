// The argument blocks of the DWebBrowserEvents2 events, laid out as the
// browser lays them out: arguments in reverse order, strings as BSTRs
// inside by-reference VARIANTs, Cancel as a reference to a VARIANT_BOOL.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <memory>
#include <string>
#include <vector>

namespace standin {

// DISPIDs of the events the stand-in fires.
constexpr DISPID kDownloadComplete = 104;
constexpr DISPID kDownloadBegin = 106;
constexpr DISPID kBeforeNavigate2 = 250;
constexpr DISPID kNewWindow2 = 251;
constexpr DISPID kNavigateComplete2 = 252;
constexpr DISPID kOnQuit = 253;
constexpr DISPID kDocumentComplete = 259;
constexpr DISPID kNewWindow3 = 273;
constexpr DISPID kWindowStateChanged = 283;

// "BeforeNavigate2" for 250 and so on; "DISPID n" for others.
std::string EventName(DISPID dispid);
// Accepts the names above (any case) or a decimal DISPID.
bool ParseEventName(const std::string& text, DISPID* dispid);

// One event's DISPPARAMS and everything its VARIANTs point at. Not
// copyable: the VARIANTs point into the block itself.
class EventArgs {
public:
    EventArgs(const EventArgs&) = delete;
    EventArgs& operator=(const EventArgs&) = delete;
    ~EventArgs();

    // No arguments: DownloadBegin, DownloadComplete, OnQuit.
    static std::unique_ptr<EventArgs> Empty();
    // pDisp, URL, Flags, TargetFrameName, PostData, Headers, Cancel.
    // target null gives a null BSTR (an ordinary navigation).
    static std::unique_ptr<EventArgs> BeforeNavigate2(IDispatch* browser, const std::wstring& url,
                                                      const std::wstring* target);
    // ppDisp, Cancel.
    static std::unique_ptr<EventArgs> NewWindow2();
    // ppDisp, Cancel, dwFlags (VT_UI4), bstrUrlContext, bstrUrl (VT_BSTR by
    // value): Cancel is not the last argument here.
    static std::unique_ptr<EventArgs> NewWindow3(DWORD flags, const std::wstring& urlContext,
                                                 const std::wstring& url);
    // dwWindowStateFlags, dwValidFlagsMask (VT_I4 by value).
    static std::unique_ptr<EventArgs> WindowStateChanged(DWORD flags, DWORD valid);
    // pDisp, URL: NavigateComplete2 and DocumentComplete.
    static std::unique_ptr<EventArgs> BrowserAndUrl(IDispatch* browser, const std::wstring& url);

    DISPPARAMS* Params() { return &params_; }
    // Cancel as the sinks left it (BeforeNavigate2, NewWindow2).
    VARIANT_BOOL CancelValue() const { return cancel_; }
    bool Cancelled() const { return cancel_ != VARIANT_FALSE; }
    // NewWindow2, NewWindow3: what a sink stored through ppDisp; the caller
    // takes the reference.
    IDispatch* TakeNewWindowDispatch();

private:
    friend class RawEventBuilder;
    explicit EventArgs(size_t count);
    void Finish();
    // Points argument `slot` at inner storage of its own holding a BSTR.
    void SetRefString(size_t slot, const wchar_t* text, size_t length, bool null);

    std::vector<VARIANT> args_;    // rgvarg, already reversed
    std::vector<VARIANT> inner_;   // pointed at by VT_BYREF|VT_VARIANT arguments
    std::vector<VARIANT> inner2_;  // PostData's second level
    VARIANT_BOOL cancel_ = VARIANT_FALSE;
    IDispatch* newWindow_ = nullptr;
    std::vector<LONG> integers_;
    DISPPARAMS params_{};
};

// One argument of a raw event, written in a session file (see README):
// self, frame:NAME, null-dispatch, str:"text", nullstr, bigstr:N, bstr:"x",
// i4:N, ui4:N, ref-i4:N, cancel, ref-dispatch, postdata, empty, null-ref.
struct RawArg {
    enum class Kind {
        Browser,        // VT_DISPATCH: the event's own browser (self) or a frame's
        NullDispatch,   // VT_DISPATCH holding null
        RefString,      // VT_BYREF|VT_VARIANT -> VT_BSTR
        RefNullString,  // VT_BYREF|VT_VARIANT -> VT_BSTR null
        PlainString,    // VT_BSTR, not by reference (a wrong type)
        Integer,        // VT_I4
        Unsigned,       // VT_UI4
        RefInteger,     // VT_BYREF|VT_VARIANT -> VT_I4
        Cancel,         // VT_BYREF|VT_BOOL
        RefDispatch,    // VT_BYREF|VT_DISPATCH -> null slot
        PostData,       // VT_BYREF|VT_VARIANT -> VT_BYREF|VT_VARIANT -> VT_EMPTY
        Empty,          // VT_EMPTY
        NullRef,        // VT_BYREF|VT_VARIANT with a null pointer
    };
    Kind kind = Kind::Empty;
    std::string text;     // strings (UTF-8), frame name for Browser
    long number = 0;      // Integer, RefInteger; length for a big string
    bool big = false;     // RefString of `number` characters
};

bool ParseRawArg(const std::string& token, RawArg* arg, std::string* error);

// A raw event: any arguments in declaration order (reversed into rgvarg),
// or no DISPPARAMS at all.
class RawEventBuilder {
public:
    // browserFor resolves Browser arguments ("" = the event's own browser).
    template <typename Resolve>
    static std::unique_ptr<EventArgs> Build(const std::vector<RawArg>& args, Resolve browserFor) {
        std::unique_ptr<EventArgs> block(new EventArgs(args.size()));
        for (size_t i = 0; i < args.size(); ++i)
            Fill(*block, args.size() - 1 - i, args[i], browserFor(args[i].text));
        block->Finish();
        return block;
    }

private:
    static void Fill(EventArgs& block, size_t slot, const RawArg& arg, IDispatch* browser);
};

// A summary of an argument block for the timeline: "[3] VT_BYREF|VT_VARIANT
// -> VT_BSTR \"...\"" per argument, strings cut to 80 characters.
std::string DescribeArgs(const DISPPARAMS* params);
std::string VarTypeName(VARTYPE vt);

}  // namespace standin

#include "browser/event_args.h"

#include <cstdio>
#include <cstdlib>

#include "browser/text_conversion.h"

namespace standin {

namespace {

struct NamedEvent {
    DISPID dispid;
    const char* name;
};

const NamedEvent kEvents[] = {
    {kDownloadComplete, "DownloadComplete"},
    {kDownloadBegin, "DownloadBegin"},
    {kBeforeNavigate2, "BeforeNavigate2"},
    {kNewWindow2, "NewWindow2"},
    {kNavigateComplete2, "NavigateComplete2"},
    {kOnQuit, "OnQuit"},
    {kDocumentComplete, "DocumentComplete"},
    {kNewWindow3, "NewWindow3"},
    {kWindowStateChanged, "WindowStateChanged"},
};

BSTR AllocateBstr(const wchar_t* text, size_t length) {
    BSTR value = SysAllocStringLen(text, static_cast<UINT>(length));
    if (!value) throw std::bad_alloc();
    return value;
}

std::string Quote(const std::string& text) {
    std::string shown = text.size() > 80 ? text.substr(0, 80) + "..." : text;
    return "\"" + shown + "\"";
}

}  // namespace

std::string EventName(DISPID dispid) {
    for (const NamedEvent& event : kEvents)
        if (event.dispid == dispid) return event.name;
    return "DISPID " + std::to_string(static_cast<long>(dispid));
}

bool ParseEventName(const std::string& text, DISPID* dispid) {
    for (const NamedEvent& event : kEvents) {
        if (EqualsNoCase(text, event.name)) {
            *dispid = event.dispid;
            return true;
        }
    }
    if (text.empty()) return false;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (!end || *end) return false;
    *dispid = static_cast<DISPID>(value);
    return true;
}

EventArgs::EventArgs(size_t count) : args_(count), inner_(count), inner2_(count), integers_(count) {
    for (VARIANT& v : args_) VariantInit(&v);
    for (VARIANT& v : inner_) VariantInit(&v);
    for (VARIANT& v : inner2_) VariantInit(&v);
}

void EventArgs::Finish() {
    params_.rgvarg = args_.empty() ? nullptr : args_.data();
    params_.rgdispidNamedArgs = nullptr;
    params_.cArgs = static_cast<UINT>(args_.size());
    params_.cNamedArgs = 0;
}

EventArgs::~EventArgs() {
    // Strings the stand-in allocated, or what a sink left in their place.
    // Dispatch pointers in the arguments were lent, never referenced.
    for (VARIANT& v : inner_)
        if (v.vt == VT_BSTR) VariantClear(&v);
    for (VARIANT& v : args_)
        if (v.vt == VT_BSTR) VariantClear(&v);
    if (newWindow_) newWindow_->Release();
}

void EventArgs::SetRefString(size_t slot, const wchar_t* text, size_t length, bool null) {
    inner_[slot].vt = VT_BSTR;
    inner_[slot].bstrVal = null ? nullptr : AllocateBstr(text, length);
    args_[slot].vt = VT_BYREF | VT_VARIANT;
    args_[slot].pvarVal = &inner_[slot];
}

IDispatch* EventArgs::TakeNewWindowDispatch() {
    IDispatch* dispatch = newWindow_;
    newWindow_ = nullptr;
    return dispatch;
}

std::unique_ptr<EventArgs> EventArgs::Empty() {
    std::unique_ptr<EventArgs> block(new EventArgs(0));
    block->Finish();
    return block;
}

std::unique_ptr<EventArgs> EventArgs::BeforeNavigate2(IDispatch* browser, const std::wstring& url,
                                                       const std::wstring* target) {
    std::unique_ptr<EventArgs> block(new EventArgs(7));
    EventArgs& b = *block;
    // Declared order: pDisp, URL, Flags, TargetFrameName, PostData,
    // Headers, Cancel; rgvarg holds them last first.
    b.args_[6].vt = VT_DISPATCH;
    b.args_[6].pdispVal = browser;
    b.SetRefString(5, url.data(), url.size(), false);
    b.inner_[4].vt = VT_I4;
    b.inner_[4].lVal = 0;
    b.args_[4].vt = VT_BYREF | VT_VARIANT;
    b.args_[4].pvarVal = &b.inner_[4];
    b.SetRefString(3, target ? target->data() : nullptr, target ? target->size() : 0, target == nullptr);
    b.inner2_[2].vt = VT_EMPTY;
    b.inner_[2].vt = VT_BYREF | VT_VARIANT;
    b.inner_[2].pvarVal = &b.inner2_[2];
    b.args_[2].vt = VT_BYREF | VT_VARIANT;
    b.args_[2].pvarVal = &b.inner_[2];
    b.SetRefString(1, nullptr, 0, true);
    b.args_[0].vt = VT_BYREF | VT_BOOL;
    b.args_[0].pboolVal = &b.cancel_;
    b.Finish();
    return block;
}

std::unique_ptr<EventArgs> EventArgs::NewWindow2() {
    std::unique_ptr<EventArgs> block(new EventArgs(2));
    block->args_[1].vt = VT_BYREF | VT_DISPATCH;
    block->args_[1].ppdispVal = &block->newWindow_;
    block->args_[0].vt = VT_BYREF | VT_BOOL;
    block->args_[0].pboolVal = &block->cancel_;
    block->Finish();
    return block;
}

std::unique_ptr<EventArgs> EventArgs::NewWindow3(DWORD flags, const std::wstring& urlContext,
                                                  const std::wstring& url) {
    std::unique_ptr<EventArgs> block(new EventArgs(5));
    EventArgs& b = *block;
    b.args_[4].vt = VT_BYREF | VT_DISPATCH;
    b.args_[4].ppdispVal = &b.newWindow_;
    b.args_[3].vt = VT_BYREF | VT_BOOL;
    b.args_[3].pboolVal = &b.cancel_;
    b.args_[2].vt = VT_UI4;
    b.args_[2].ulVal = flags;
    b.args_[1].vt = VT_BSTR;
    b.args_[1].bstrVal = AllocateBstr(urlContext.data(), urlContext.size());
    b.args_[0].vt = VT_BSTR;
    b.args_[0].bstrVal = AllocateBstr(url.data(), url.size());
    b.Finish();
    return block;
}

std::unique_ptr<EventArgs> EventArgs::WindowStateChanged(DWORD flags, DWORD valid) {
    std::unique_ptr<EventArgs> block(new EventArgs(2));
    block->args_[1].vt = VT_I4;
    block->args_[1].lVal = static_cast<LONG>(flags);
    block->args_[0].vt = VT_I4;
    block->args_[0].lVal = static_cast<LONG>(valid);
    block->Finish();
    return block;
}

std::unique_ptr<EventArgs> EventArgs::BrowserAndUrl(IDispatch* browser, const std::wstring& url) {
    std::unique_ptr<EventArgs> block(new EventArgs(2));
    block->args_[1].vt = VT_DISPATCH;
    block->args_[1].pdispVal = browser;
    block->SetRefString(0, url.data(), url.size(), false);
    block->Finish();
    return block;
}

bool ParseRawArg(const std::string& token, RawArg* arg, std::string* error) {
    using Kind = RawArg::Kind;
    *arg = RawArg();
    auto valueAfter = [&](const char* prefix) { return token.substr(std::string(prefix).size()); };
    auto number = [&](const std::string& text, long* out) {
        char* end = nullptr;
        *out = std::strtol(text.c_str(), &end, 10);
        return !text.empty() && end && !*end;
    };
    if (token == "self") {
        arg->kind = Kind::Browser;
    } else if (StartsWithNoCase(token, "frame:")) {
        arg->kind = Kind::Browser;
        arg->text = valueAfter("frame:");
    } else if (token == "null-dispatch") {
        arg->kind = Kind::NullDispatch;
    } else if (StartsWithNoCase(token, "str:")) {
        arg->kind = Kind::RefString;
        arg->text = valueAfter("str:");
    } else if (token == "nullstr") {
        arg->kind = Kind::RefNullString;
    } else if (StartsWithNoCase(token, "bigstr:")) {
        arg->kind = Kind::RefString;
        arg->big = true;
        if (!number(valueAfter("bigstr:"), &arg->number) || arg->number < 0 || arg->number > 16 * 1024 * 1024) {
            *error = "bigstr wants a length from 0 to 16777216";
            return false;
        }
    } else if (StartsWithNoCase(token, "bstr:")) {
        arg->kind = Kind::PlainString;
        arg->text = valueAfter("bstr:");
    } else if (StartsWithNoCase(token, "i4:")) {
        arg->kind = Kind::Integer;
        if (!number(valueAfter("i4:"), &arg->number)) {
            *error = "i4 wants a number";
            return false;
        }
    } else if (StartsWithNoCase(token, "ui4:")) {
        arg->kind = Kind::Unsigned;
        const std::string digits = valueAfter("ui4:");
        char* end = nullptr;
        arg->number = static_cast<long>(std::strtoul(digits.c_str(), &end, 0));
        if (digits.empty() || !end || *end || digits[0] == '-') {
            *error = "ui4 wants a number from 0 to 0xFFFFFFFF";
            return false;
        }
    } else if (StartsWithNoCase(token, "ref-i4:")) {
        arg->kind = Kind::RefInteger;
        if (!number(valueAfter("ref-i4:"), &arg->number)) {
            *error = "ref-i4 wants a number";
            return false;
        }
    } else if (token == "cancel") {
        arg->kind = Kind::Cancel;
    } else if (token == "ref-dispatch") {
        arg->kind = Kind::RefDispatch;
    } else if (token == "postdata") {
        arg->kind = Kind::PostData;
    } else if (token == "empty") {
        arg->kind = Kind::Empty;
    } else if (token == "null-ref") {
        arg->kind = Kind::NullRef;
    } else {
        *error = "unknown argument \"" + token + "\"";
        return false;
    }
    return true;
}

void RawEventBuilder::Fill(EventArgs& block, size_t slot, const RawArg& arg, IDispatch* browser) {
    using Kind = RawArg::Kind;
    VARIANT& v = block.args_[slot];
    switch (arg.kind) {
    case Kind::Browser:
        v.vt = VT_DISPATCH;
        v.pdispVal = browser;
        break;
    case Kind::NullDispatch:
        v.vt = VT_DISPATCH;
        v.pdispVal = nullptr;
        break;
    case Kind::RefString:
        if (arg.big) {
            std::wstring text(static_cast<size_t>(arg.number), L'A');
            for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<wchar_t>(L'A' + i % 26);
            block.SetRefString(slot, text.data(), text.size(), false);
        } else {
            const std::wstring text = Widen(arg.text);
            block.SetRefString(slot, text.data(), text.size(), false);
        }
        break;
    case Kind::RefNullString:
        block.SetRefString(slot, nullptr, 0, true);
        break;
    case Kind::PlainString: {
        const std::wstring text = Widen(arg.text);
        v.vt = VT_BSTR;
        v.bstrVal = AllocateBstr(text.data(), text.size());
        break;
    }
    case Kind::Integer:
        v.vt = VT_I4;
        v.lVal = arg.number;
        break;
    case Kind::Unsigned:
        v.vt = VT_UI4;
        v.ulVal = static_cast<ULONG>(arg.number);
        break;
    case Kind::RefInteger:
        block.inner_[slot].vt = VT_I4;
        block.inner_[slot].lVal = arg.number;
        v.vt = VT_BYREF | VT_VARIANT;
        v.pvarVal = &block.inner_[slot];
        break;
    case Kind::Cancel:
        v.vt = VT_BYREF | VT_BOOL;
        v.pboolVal = &block.cancel_;
        break;
    case Kind::RefDispatch:
        v.vt = VT_BYREF | VT_DISPATCH;
        v.ppdispVal = &block.newWindow_;
        break;
    case Kind::PostData:
        block.inner2_[slot].vt = VT_EMPTY;
        block.inner_[slot].vt = VT_BYREF | VT_VARIANT;
        block.inner_[slot].pvarVal = &block.inner2_[slot];
        v.vt = VT_BYREF | VT_VARIANT;
        v.pvarVal = &block.inner_[slot];
        break;
    case Kind::Empty:
        v.vt = VT_EMPTY;
        break;
    case Kind::NullRef:
        v.vt = VT_BYREF | VT_VARIANT;
        v.pvarVal = nullptr;
        break;
    }
}

std::string VarTypeName(VARTYPE vt) {
    std::string prefix;
    if (vt & VT_BYREF) prefix = "VT_BYREF|";
    switch (vt & ~VT_BYREF) {
    case VT_EMPTY: return prefix + "VT_EMPTY";
    case VT_I4: return prefix + "VT_I4";
    case VT_UI4: return prefix + "VT_UI4";
    case VT_BSTR: return prefix + "VT_BSTR";
    case VT_DISPATCH: return prefix + "VT_DISPATCH";
    case VT_BOOL: return prefix + "VT_BOOL";
    case VT_VARIANT: return prefix + "VT_VARIANT";
    case VT_UNKNOWN: return prefix + "VT_UNKNOWN";
    default: break;
    }
    char text[32];
    snprintf(text, sizeof text, "vt 0x%04X", static_cast<unsigned>(vt));
    return text;
}

std::string DescribeArgs(const DISPPARAMS* params) {
    if (!params) return "no DISPPARAMS";
    if (params->cArgs == 0) return "no arguments";
    if (!params->rgvarg) return std::to_string(params->cArgs) + " arguments, rgvarg null";
    std::string text;
    for (UINT i = params->cArgs; i-- > 0;) {
        const VARIANT& v = params->rgvarg[i];
        if (!text.empty()) text += ", ";
        text += "[" + std::to_string(i) + "] " + VarTypeName(v.vt);
        if (v.vt == (VT_BYREF | VT_VARIANT)) {
            if (!v.pvarVal) {
                text += " -> null";
            } else {
                text += " -> " + VarTypeName(v.pvarVal->vt);
                if (v.pvarVal->vt == VT_BSTR) {
                    BSTR s = v.pvarVal->bstrVal;
                    text += s ? " " + Quote(NarrowBstr(s)) + " (" + std::to_string(SysStringLen(s)) + ")"
                              : " null";
                }
            }
        } else if (v.vt == VT_BSTR) {
            text += v.bstrVal ? " " + Quote(NarrowBstr(v.bstrVal)) : " null";
        } else if (v.vt == VT_I4) {
            text += " " + std::to_string(static_cast<long>(v.lVal));
        } else if (v.vt == VT_UI4) {
            char hex[16];
            snprintf(hex, sizeof hex, " 0x%lX", static_cast<unsigned long>(v.ulVal));
            text += hex;
        } else if (v.vt == VT_DISPATCH && !v.pdispVal) {
            text += " null";
        }
    }
    return text;
}

}  // namespace standin

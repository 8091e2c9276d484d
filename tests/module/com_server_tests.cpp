// The COM server as a client sees it: Korvane.dll's exports, its class
// factory and the helper object's identity, aggregation and type information.
#include <gtest/gtest.h>

#include <exdisp.h>
#include <ocidl.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "base/com.h"
#include "korvane_idl.h"
#include "module/com_server.h"
#include "module/type_library.h"
#include "state/module_path.h"
#include "support/test_support.h"

using namespace korvane;
using korvane::ComPtr;

namespace {

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

void* const kUnwritten = reinterpret_cast<void*>(0xdeadbeef);

// An aggregating object: hands every interface but IUnknown to its inner
// object, as a real outer object does, and records what it was asked.
class Outer final : public IUnknown {
public:
    LONG refs = 1;
    IUnknown* inner = nullptr;
    std::vector<IID> queried;

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        queried.push_back(riid);
        if (IsEqualIID(riid, IID_IUnknown)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        if (!inner) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        return inner->QueryInterface(riid, object);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }
};

class ServerDll : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dll = LoadLibraryA(test::KorvaneDllPath().c_str());
        ASSERT_NE(nullptr, dll);
        getClassObject = reinterpret_cast<GetClassObjectFunction>(
            reinterpret_cast<void (*)()>(GetProcAddress(dll, "DllGetClassObject")));
        canUnloadNow = reinterpret_cast<CanUnloadNowFunction>(
            reinterpret_cast<void (*)()>(GetProcAddress(dll, "DllCanUnloadNow")));
    }
    static void TearDownTestSuite() {
        if (dll) FreeLibrary(dll);
        dll = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(nullptr, getClassObject);
        ASSERT_NE(nullptr, canUnloadNow);
        ASSERT_EQ(S_OK, canUnloadNow()) << "an earlier test left something alive";
    }

    ComPtr<IClassFactory> Factory() {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(S_OK, getClassObject(CLSID_ViewSource, IID_IClassFactory,
                                       reinterpret_cast<void**>(factory.GetAddressOf())));
        return factory;
    }
    template <typename T>
    ComPtr<T> Create(REFIID riid) {
        ComPtr<T> object;
        EXPECT_EQ(S_OK, Factory()->CreateInstance(nullptr, riid,
                                                  reinterpret_cast<void**>(object.GetAddressOf())));
        return object;
    }

    static HMODULE dll;
    static GetClassObjectFunction getClassObject;
    static CanUnloadNowFunction canUnloadNow;
};

HMODULE ServerDll::dll = nullptr;
GetClassObjectFunction ServerDll::getClassObject = nullptr;
CanUnloadNowFunction ServerDll::canUnloadNow = nullptr;

std::vector<std::string> ExportedNames(HMODULE module) {
    std::vector<std::string> names;
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (entry.VirtualAddress == 0) return names;
    auto* exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    auto* nameTable = reinterpret_cast<DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.push_back(reinterpret_cast<char*>(base + nameTable[i]));
    EXPECT_EQ(exports->NumberOfNames, exports->NumberOfFunctions) << "exports by ordinal only";
    return names;
}

std::string Narrow(BSTR text) {
    std::string result;
    for (UINT i = 0; text && i < SysStringLen(text); ++i) result += static_cast<char>(text[i]);
    return result;
}

}  // namespace

// The server's four, the entry point of the broker's program, and the count
// of waits at attach that the startup tests read.
TEST_F(ServerDll, ExportsExactlyTheFourEntryPointsAndTheBrokersByName) {
    std::vector<std::string> names = ExportedNames(dll);
    std::sort(names.begin(), names.end());
    const std::vector<std::string> expected = {"DllCanUnloadNow", "DllGetClassObject",
                                               "DllRegisterServer", "DllUnregisterServer",
                                               "KorvaneAttachWaits", "KorvaneBrokerMain"};
    EXPECT_EQ(expected, names);
}

TEST_F(ServerDll, ClassObjectExistsOnlyForViewSource) {
    void* object = kUnwritten;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject(IID_IViewSource, IID_IClassFactory, &object));
    EXPECT_EQ(nullptr, object);
    object = kUnwritten;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject(GUID_NULL, IID_IUnknown, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(E_POINTER, getClassObject(CLSID_ViewSource, IID_IClassFactory, nullptr));

    // The factory answers IUnknown and IClassFactory only, and a refused
    // request leaves no lock behind.
    object = kUnwritten;
    EXPECT_EQ(E_NOINTERFACE, getClassObject(CLSID_ViewSource, IID_IDispatch, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(S_OK, canUnloadNow());
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(S_OK, getClassObject(CLSID_ViewSource, IID_IUnknown,
                                   reinterpret_cast<void**>(unknown.GetAddressOf())));
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(S_OK, unknown->QueryInterface(IID_IClassFactory,
                                            reinterpret_cast<void**>(factory.GetAddressOf())));
}

TEST_F(ServerDll, CanUnloadOnlyWithoutObjectsFactoriesOrLocks) {
    ComPtr<IClassFactory> factory = Factory();
    EXPECT_EQ(S_FALSE, canUnloadNow());
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    factory.Reset();
    EXPECT_EQ(S_FALSE, canUnloadNow());
    factory = Factory();
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));

    ComPtr<IObjectWithSite> helper;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IObjectWithSite,
                                            reinterpret_cast<void**>(helper.GetAddressOf())));
    factory.Reset();
    EXPECT_EQ(S_FALSE, canUnloadNow());
    EXPECT_EQ(0u, helper->Release());
    *helper.GetAddressOf() = nullptr;
    EXPECT_EQ(S_OK, canUnloadNow());

    // Unbalanced unlocks cannot drive the count below zero, where no object
    // could ever bring it back to "unloadable".
    factory = Factory();
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    factory.Reset();
    EXPECT_EQ(S_OK, canUnloadNow());
    ComPtr<IObjectWithSite> another = Create<IObjectWithSite>(IID_IObjectWithSite);
    EXPECT_EQ(S_FALSE, canUnloadNow());
    another.Reset();
    EXPECT_EQ(S_OK, canUnloadNow());
}

TEST_F(ServerDll, QueryInterfaceAnswersTheTwoFacesAndNothingElse) {
    ComPtr<IObjectWithSite> helper = Create<IObjectWithSite>(IID_IObjectWithSite);
    ASSERT_TRUE(helper);
    void* viewSource = nullptr;
    void* dispatch = nullptr;
    void* unknown = nullptr;
    void* site = nullptr;
    ASSERT_EQ(S_OK, helper->QueryInterface(IID_IViewSource, &viewSource));
    ASSERT_EQ(S_OK, helper->QueryInterface(IID_IDispatch, &dispatch));
    ASSERT_EQ(S_OK, helper->QueryInterface(IID_IUnknown, &unknown));
    ASSERT_EQ(S_OK, static_cast<IUnknown*>(dispatch)->QueryInterface(IID_IObjectWithSite, &site));
    EXPECT_EQ(viewSource, dispatch);
    EXPECT_EQ(unknown, dispatch);  // the identity is the dispatch face
    EXPECT_EQ(static_cast<void*>(helper.Get()), site);
    EXPECT_NE(dispatch, site);
    // Four references handed out above plus the test's own.
    EXPECT_EQ(6u, helper->AddRef());
    for (void* face : {viewSource, dispatch, unknown, site, static_cast<void*>(helper.Get())})
        static_cast<IUnknown*>(face)->Release();

    for (const IID* iid : {&IID_IPersist, &IID_IConnectionPointContainer, &DIID_DWebBrowserEvents2,
                           &IID_IClassFactory, &IID_IWebBrowser2, &IID_IOleObject}) {
        void* object = kUnwritten;
        EXPECT_EQ(E_NOINTERFACE, helper->QueryInterface(*iid, &object));
        EXPECT_EQ(nullptr, object);
    }
    EXPECT_EQ(E_POINTER, helper->QueryInterface(IID_IUnknown, nullptr));
    EXPECT_EQ(0u, helper->Release());
    *helper.GetAddressOf() = nullptr;
}

TEST_F(ServerDll, AggregationHandsOutTheInnerUnknownAndDelegatesEverythingElse) {
    ComPtr<IClassFactory> factory = Factory();
    Outer outer;
    void* object = kUnwritten;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, IID_IObjectWithSite, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, IID_IDispatch, &object));

    ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown,
                                            reinterpret_cast<void**>(&outer.inner)));
    EXPECT_EQ(1, outer.refs);  // the inner object holds no reference on its outer

    // The inner unknown answers for itself...
    void* innerUnknown = nullptr;
    ASSERT_EQ(S_OK, outer.inner->QueryInterface(IID_IUnknown, &innerUnknown));
    EXPECT_EQ(static_cast<void*>(outer.inner), innerUnknown);
    static_cast<IUnknown*>(innerUnknown)->Release();

    // ...its interfaces count their references on the outer object...
    IObjectWithSite* site = nullptr;
    ASSERT_EQ(S_OK, outer.QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&site)));
    EXPECT_EQ(2, outer.refs);
    site->AddRef();
    EXPECT_EQ(3, outer.refs);
    site->Release();

    // ...and their QueryInterface is the outer object's, identity included.
    outer.queried.clear();
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(S_OK, site->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)));
    void* identity = nullptr;
    ASSERT_EQ(S_OK, dispatch->QueryInterface(IID_IUnknown, &identity));
    EXPECT_EQ(static_cast<void*>(&outer), identity);
    ASSERT_EQ(2u, outer.queried.size());
    EXPECT_TRUE(IsEqualIID(IID_IDispatch, outer.queried[0]));
    EXPECT_TRUE(IsEqualIID(IID_IUnknown, outer.queried[1]));
    static_cast<IUnknown*>(identity)->Release();
    dispatch->Release();
    site->Release();
    EXPECT_EQ(1, outer.refs);

    factory.Reset();
    EXPECT_EQ(S_FALSE, canUnloadNow());
    EXPECT_EQ(0u, outer.inner->Release());
    EXPECT_EQ(S_OK, canUnloadNow());
}

TEST_F(ServerDll, DispatchFaceServesTheTypeLibrarysDescription) {
    ComPtr<IDispatch> dispatch = Create<IDispatch>(IID_IDispatch);
    ASSERT_TRUE(dispatch);
    UINT count = 0;
    EXPECT_EQ(S_OK, dispatch->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(E_POINTER, dispatch->GetTypeInfoCount(nullptr));

    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.GetAddressOf()));
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attributes));
    EXPECT_TRUE(IsEqualGUID(IID_IViewSource, attributes->guid));
    EXPECT_EQ(TKIND_DISPATCH, attributes->typekind);
    const WORD dual = TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE;
    EXPECT_EQ(dual, attributes->wTypeFlags & dual);
    info->ReleaseTypeAttr(attributes);
    // The dual interface's vtable half carries the automation flag too (the
    // dispatch half never does, with Microsoft's compiler as with widl).
    HREFTYPE vtableHalf = 0;
    ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(-1, &vtableHalf));
    ComPtr<ITypeInfo> interfaceInfo;
    ASSERT_EQ(S_OK, info->GetRefTypeInfo(vtableHalf, interfaceInfo.GetAddressOf()));
    ASSERT_EQ(S_OK, interfaceInfo->GetTypeAttr(&attributes));
    EXPECT_EQ(TKIND_INTERFACE, attributes->typekind);
    const WORD all = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
    EXPECT_EQ(all, attributes->wTypeFlags & all);
    interfaceInfo->ReleaseTypeAttr(attributes);
    BSTR name = nullptr;
    BSTR help = nullptr;
    ASSERT_EQ(S_OK, info->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr));
    EXPECT_EQ("IViewSource", Narrow(name));
    EXPECT_EQ("IViewSource Interface", Narrow(help));
    SysFreeString(name);
    SysFreeString(help);

    // The library around it, and its class.
    ComPtr<ITypeLib> library;
    UINT index = 0;
    ASSERT_EQ(S_OK, info->GetContainingTypeLib(library.GetAddressOf(), &index));
    TLIBATTR* libraryAttributes = nullptr;
    ASSERT_EQ(S_OK, library->GetLibAttr(&libraryAttributes));
    EXPECT_TRUE(IsEqualGUID(LIBID_KORVANELib, libraryAttributes->guid));
    EXPECT_EQ(1, libraryAttributes->wMajorVerNum);
    EXPECT_EQ(0, libraryAttributes->wMinorVerNum);
    EXPECT_EQ(0x409u, libraryAttributes->lcid);
    library->ReleaseTLibAttr(libraryAttributes);
    ASSERT_EQ(S_OK, library->GetDocumentation(-1, &name, &help, nullptr, nullptr));
    EXPECT_EQ("KORVANELib", Narrow(name));
    EXPECT_EQ("Korvane 1.0 Type Library", Narrow(help));
    SysFreeString(name);
    SysFreeString(help);
    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(CLSID_ViewSource, coclass.GetAddressOf()));
    ASSERT_EQ(S_OK, coclass->GetTypeAttr(&attributes));
    EXPECT_EQ(TKIND_COCLASS, attributes->typekind);
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FCANCREATE);
    EXPECT_EQ(1, attributes->cImplTypes);
    coclass->ReleaseTypeAttr(attributes);
    ASSERT_EQ(S_OK, coclass->GetDocumentation(MEMBERID_NIL, nullptr, &help, nullptr, nullptr));
    EXPECT_EQ("ViewSource Class", Narrow(help));
    SysFreeString(help);
    INT implFlags = 0;
    EXPECT_EQ(S_OK, coclass->GetImplTypeFlags(0, &implFlags));
    EXPECT_TRUE(implFlags & IMPLTYPEFLAG_FDEFAULT);
}

TEST_F(ServerDll, DispatchFaceRefusesWhatItDoesNotHave) {
    ComPtr<IDispatch> dispatch = Create<IDispatch>(IID_IDispatch);
    ASSERT_TRUE(dispatch);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(kUnwritten);
    EXPECT_EQ(DISP_E_BADINDEX, dispatch->GetTypeInfo(1, 0, &info));
    EXPECT_EQ(nullptr, info);
    EXPECT_EQ(E_POINTER, dispatch->GetTypeInfo(0, 0, nullptr));

    wchar_t unknownName[] = L"NoSuchMember";
    LPOLESTR names[] = {unknownName};
    DISPID id = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
    EXPECT_EQ(DISPID_UNKNOWN, id);
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, dispatch->GetIDsOfNames(IID_IViewSource, names, 1, 0, &id));
}

TEST_F(ServerDll, TypeInformationIsSharedByAllObjectsOfTheProcess) {
    ComPtr<IDispatch> first = Create<IDispatch>(IID_IDispatch);
    ComPtr<IDispatch> second = Create<IDispatch>(IID_IDispatch);
    ComPtr<ITypeInfo> a, b;
    ASSERT_EQ(S_OK, first->GetTypeInfo(0, 0, a.GetAddressOf()));
    ASSERT_EQ(S_OK, second->GetTypeInfo(0, 0, b.GetAddressOf()));
    EXPECT_EQ(a.Get(), b.Get());
}

// In this program the server module is the test program itself, which
// carries the same resources: threads that ask at the same time for type
// information not yet loaded all get the one copy.
TEST(TypeInfoCache, ConcurrentFirstRequestsGetTheSameInformation) {
    ReleaseTypeInfoCache();
    std::vector<ITypeInfo*> results(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < results.size(); ++i)
        threads.emplace_back([&results, i] { GetViewSourceTypeInfo(&results[i]); });
    for (std::thread& thread : threads) thread.join();
    ASSERT_NE(nullptr, results[0]);
    for (ITypeInfo* info : results) {
        EXPECT_EQ(results[0], info);
        if (info) info->Release();
    }
    ReleaseTypeInfoCache();
}

TEST(ModulePath, TypeLibraryFallbackReplacesTheFileExtension) {
    struct Case { const char* path; const char* tlb; const char* directory; };
    const Case cases[] = {
        {"C:\\Program Files\\Vantrell\\Korvane.dll", "C:\\Program Files\\Vantrell\\Korvane.tlb",
         "C:\\Program Files\\Vantrell\\"},
        {"C:\\dir.v2\\Korvane", "C:\\dir.v2\\Korvane.tlb", "C:\\dir.v2\\"},
        {"C:\\dir\\archive.tar.dll", "C:\\dir\\archive.tar.tlb", "C:\\dir\\"},
        {"C:\\dir\\.hidden", "C:\\dir\\.tlb", "C:\\dir\\"},
        {"Korvane.dll", "Korvane.tlb", ""},
        {"\\\\server\\share\\K.dll", "\\\\server\\share\\K.tlb", "\\\\server\\share\\"},
    };
    for (const Case& c : cases) {
        char result[MAX_PATH];
        EXPECT_TRUE(TypeLibraryFallbackPath(c.path, result, sizeof result)) << c.path;
        EXPECT_STREQ(c.tlb, result);
        EXPECT_TRUE(DirectoryPart(c.path, result, sizeof result)) << c.path;
        EXPECT_STREQ(c.directory, result);
    }
    char tiny[8] = "garbage";
    EXPECT_FALSE(TypeLibraryFallbackPath("C:\\dir\\Korvane.dll", tiny, sizeof tiny));
    EXPECT_STREQ("", tiny);
    EXPECT_FALSE(TypeLibraryFallbackPath("Kor", tiny, 7));  // "Kor.tlb" needs 8
    EXPECT_TRUE(TypeLibraryFallbackPath("Kor", tiny, 8));
    EXPECT_FALSE(DirectoryPart("C:\\long directory\\K.dll", tiny, sizeof tiny));
    EXPECT_STREQ("", tiny);
}

TEST(ModulePath, ACutPathIsAFailureNotAResult) {
    char path[MAX_PATH];
    ASSERT_EQ(S_OK, GetModulePath(nullptr, path, sizeof path));
    const size_t length = strlen(path);
    std::vector<char> exact(length + 1);
    EXPECT_EQ(S_OK, GetModulePath(nullptr, exact.data(), exact.size()));
    EXPECT_STREQ(path, exact.data());
    std::vector<char> shortBy1(length);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER),
              GetModulePath(nullptr, shortBy1.data(), shortBy1.size()));
    EXPECT_STREQ("", shortBy1.data());
}

// Test control of the recording HDA test server (the hdatest_recording plugin).
//
// The plugin is a real server library: a test registers it in a test class store and the code under
// test creates it through CoCreateInstanceEx like any other server. It serves every CLSID made by
// RecordingClsid(profile, variant); the profile chooses which interfaces the server offers by default:
//
//   profile        ProgID (variant 0)          offers
//   Full           "HdaTest.Recording.1"       IOPCHDA_Server, _SyncRead, _SyncUpdate, _AsyncRead
//   NoAsync        "HdaTest.NoAsync.1"         all but IOPCHDA_AsyncRead
//   NoSyncRead     "HdaTest.NoSyncRead.1"      all but IOPCHDA_SyncRead
//   NoSyncUpdate   "HdaTest.NoSyncUpdate.1"    all but IOPCHDA_SyncUpdate
//   NoServer       "HdaTest.NoServer.1"        all but IOPCHDA_Server (that creation entry fails)
//
// Each class (CLSID) has its own state: a log of every call with deep copies of its arguments, the
// answer hooks, the offered interfaces, the address space. A test reaches it through
// IRecordingControl, which QueryInterface gives on the class object (CoGetClassObject) and on every
// server object. The control is test plumbing outside COM's identity rules: its QueryInterface answers
// only IUnknown and IRecordingControl, and holding it keeps no server alive.
//
// Default answers (no hook installed):
//   GetItemHandles    each non-empty ID gets the next server handle of that server object (1, 2, ...),
//                     an empty or NULL ID OPC_E_INVALIDITEMID with handle 0; S_FALSE if any failed
//   ReleaseItemHandles known handles S_OK (then forgotten), others OPC_E_INVALIDHANDLE
//   ValidateItemIDs   S_OK per ID, empty or NULL IDs OPC_E_INVALIDITEMID
//   CreateBrowse      a browser over the address space; every filter OPC_W_NOFILTER (S_FALSE)
//   GetItemAttributes DATA_TYPE (VT_I2), DESCRIPTION, ENG_UNITS, ITEMID (VT_BSTR)
//   GetAggregates     INTERPOLATIVE, AVERAGE, MINIMUM, MAXIMUM
//   GetHistorianStatus OPCHDA_UP, now kStatusNowTicks, start a day earlier, 1.20 build 7,
//                     max 1000 values, "Running", "HDA Vistrel recording test server"; the
//                     misbehaviours below change the blocks
//   ReadRaw           one value per item: at the start time (kStatusNowTicks when the start is a
//                     string, which is then also written back to ftTime of both times), VT_R8
//                     10 × server handle, quality OPC_QUALITY_GOOD | OPCHDA_RAW, hClient from
//                     GetItemHandles; unknown handles OPC_E_INVALIDHANDLE with an empty record
//   ReadProcessed     the same, haAggregate copied, quality GOOD | OPCHDA_CALCULATED
//   ReadAtTime        one value per requested timestamp (10 × handle + index), GOOD | OPCHDA_RAW
//   ReadModified      E_NOTIMPL
//   ReadAttribute     one value per attribute at the start time: DATA_TYPE VT_I2 5 (VT_R8),
//                     DESCRIPTION "Recorded item <ID>", ENG_UNITS "units", ITEMID the ID; other ids
//                     OPC_E_INVALIDATTRID; an unknown handle fails the call (OPC_E_INVALIDHANDLE)
//   QueryCapabilities all five bits (0x1F)
//   Insert, Replace, InsertReplace, DeleteRaw, DeleteAtTime  S_OK per entry, unknown handles
//                     OPC_E_INVALIDHANDLE
//   IOPCHDA_AsyncRead requests: S_OK per known handle, a new cancel ID; Cancel S_OK for an issued ID,
//                     else E_FAIL. No data callbacks are sent.
//   Browsing          the address space (DefaultAddressSpace(), '.' between levels): BRANCH lists
//                     child nodes that have children, LEAF items without children, ITEMS every
//                     child that is an item, FLAT the full IDs of every item at and below the
//                     position; S_FALSE with an (empty) enumerator when nothing is listed. UP at the
//                     root, DOWN to an unknown or leaf name and DIRECT to an unknown path fail with
//                     E_FAIL; GetItemID of a name that is not an item fails with E_FAIL.
// Misbehaviours (SetMisbehaviour, bits; they change the default answers, hooks replace them anyway):
//   kMisbehaveShortTimes           GetHistorianStatus: the current-time block holds 4 bytes and the
//                                  start-time block 0 bytes (both really allocated), S_OK
//   kMisbehaveUnterminatedStrings  GetHistorianStatus: status and vendor strings fill their blocks
//                                  with no terminator inside
// Across processes (a host's surrogate), where hooks cannot reach: the class whose ProgID the
// environment variable HDATEST_ABORT_READRAW names calls abort() inside ReadRaw.
// NULL out-pointers, NULL input arrays with a non-zero count, and a zero item count give
// E_INVALIDARG. Everything returned comes from CoTaskMemAlloc (strings in VARIANTs are BSTRs).
// A default answer whose allocation is refused frees what it took, clears its out-pointers and
// fails with E_OUTOFMEMORY.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "com/classstore.h"
#include "com/objbase.h"
#include "com/unknwn.h"
#include "hda/opchda.h"

namespace hdatest {

enum class Profile : BYTE { Full = 0, NoAsync = 1, NoSyncRead = 2, NoSyncUpdate = 3, NoServer = 4 };
inline constexpr Profile kAllProfiles[] = {Profile::Full, Profile::NoAsync, Profile::NoSyncRead,
                                           Profile::NoSyncUpdate, Profile::NoServer};

// Bits of SetMisbehaviour.
enum Misbehave : DWORD {
    kMisbehaveShortTimes = 0x1,
    kMisbehaveUnterminatedStrings = 0x2,
};

// Bits of the offered-interface mask.
enum Offer : DWORD {
    kOfferServer = 0x1,      // IOPCHDA_Server
    kOfferSyncRead = 0x2,    // IOPCHDA_SyncRead
    kOfferSyncUpdate = 0x4,  // IOPCHDA_SyncUpdate
    kOfferAsyncRead = 0x8,   // IOPCHDA_AsyncRead
    kOfferAll = 0xF,
};

// {6D0C4E10-71B2-4E5A-9C3D-418A vvvv A5 pp}: variant in bytes 4..5 of Data4, profile in byte 7.
constexpr CLSID RecordingClsid(Profile profile, WORD variant = 0) {
    return CLSID{0x6D0C4E10,
                 0x71B2,
                 0x4E5A,
                 {0x9C, 0x3D, 0x41, 0x8A, static_cast<BYTE>(variant >> 8), static_cast<BYTE>(variant & 0xFF),
                  0xA5, static_cast<BYTE>(profile)}};
}
inline constexpr CLSID CLSID_HdaTestRecording = RecordingClsid(Profile::Full);
inline constexpr CLSID CLSID_HdaTestNoAsync = RecordingClsid(Profile::NoAsync);
inline constexpr CLSID CLSID_HdaTestNoSyncRead = RecordingClsid(Profile::NoSyncRead);
inline constexpr CLSID CLSID_HdaTestNoSyncUpdate = RecordingClsid(Profile::NoSyncUpdate);
inline constexpr CLSID CLSID_HdaTestNoServer = RecordingClsid(Profile::NoServer);

// A class the hdatest_broken library registers ("HdaTest.Broken.1"); that library has no
// DllGetClassObject.
inline constexpr CLSID CLSID_HdaTestBroken = {
    0x6D0C4E11, 0x71B2, 0x4E5A, {0x9C, 0x3D, 0x41, 0x8A, 0x00, 0x00, 0xA5, 0x00}};

inline constexpr IID IID_IRecordingControl = {
    0x6D0C4E1F, 0x71B2, 0x4E5A, {0x9C, 0x3D, 0x41, 0x8A, 0x00, 0x00, 0xA5, 0xFF}};

inline const char16_t* ProfileProgId(Profile p) {
    switch (p) {
        case Profile::Full:
            return u"HdaTest.Recording.1";
        case Profile::NoAsync:
            return u"HdaTest.NoAsync.1";
        case Profile::NoSyncRead:
            return u"HdaTest.NoSyncRead.1";
        case Profile::NoSyncUpdate:
            return u"HdaTest.NoSyncUpdate.1";
        case Profile::NoServer:
            return u"HdaTest.NoServer.1";
    }
    return u"";
}

inline constexpr DWORD ProfileOffers(Profile p) {
    switch (p) {
        case Profile::NoAsync:
            return kOfferAll & ~kOfferAsyncRead;
        case Profile::NoSyncRead:
            return kOfferAll & ~kOfferSyncRead;
        case Profile::NoSyncUpdate:
            return kOfferAll & ~kOfferSyncUpdate;
        case Profile::NoServer:
            return kOfferAll & ~kOfferServer;
        case Profile::Full:
        default:
            return kOfferAll;
    }
}

// 2009-02-24 13:05:07.250 UTC: the server's "now" and the time of values read with a string start.
inline constexpr ULONGLONG kStatusNowTicks = 128799543072500000ULL;

inline std::vector<std::u16string> DefaultAddressSpace() {
    return {u"Plant.Area1.Temperature", u"Plant.Area1.Pressure",
            u"Plant.Area2.Flow",        u"Plant.Status",
            u"Utilities.Power",         u"Sinusoid"};
}

// ---- The call log ----

struct RecordedTime {
    BOOL bString = FALSE;
    bool szTimeNull = false;
    std::u16string szTime;
    ULONGLONG ftTime = 0;  // as passed in, before the server wrote anything back
};

struct RecordedValue {
    VARTYPE vt = VT_EMPTY;
    // Integers in decimal, VT_BOOL as its number (-1), reals in shortest round-trip form, VT_CY in
    // decimal units, VT_DATE as its day number, VT_ERROR as "0x%08X", VT_BSTR its text; else empty.
    std::u16string text;
};

struct RecordedFilter {
    DWORD attributeId = 0;
    DWORD op = 0;
    RecordedValue value;
};

// One call. `method` is "Interface::Method": "IOPCHDA_Server::GetItemHandles",
// "IOPCHDA_Browser::GetEnum", "IEnumString::Next", "IOPCHDA_SyncRead::ReadRaw",
// "IOPCHDA_AsyncRead::ReadRaw", ... Only the fields the method has are filled. QueryInterface on a
// server object is recorded too, as "IUnknown::QueryInterface" with the IID's text in `text`;
// AddRef and Release are not (LiveObjects and OutstandingReferences count them).
struct RecordedCall {
    std::string method;
    unsigned server = 0;  // serial number (1, 2, ...) of the server object the call belongs to
    HRESULT result = S_OK;
    std::vector<std::string> nullArgs;  // pointer arguments that were NULL ("phServer", "pszItemID[2]", ...)

    std::optional<RecordedTime> start, end;  // htStartTime, htEndTime
    DWORD count = 0;                         // dwCount, dwNumItems, dwNumAttributes, celt
    DWORD numValues = 0;                     // ReadRaw, ReadModified
    BOOL bounds = FALSE;                     // ReadRaw
    std::vector<std::u16string> itemIds;     // GetItemHandles, ValidateItemIDs
    std::vector<OPCHANDLE> clientHandles;    // GetItemHandles
    std::vector<OPCHANDLE> serverHandles;    // phServer
    OPCHANDLE hServer = 0;                   // ReadAttribute
    std::vector<DWORD> aggregates;           // haAggregate
    std::vector<DWORD> attributeIds;         // pdwAttributeIDs
    std::vector<DWORD> qualities;            // pdwQualities
    std::vector<ULONGLONG> timestamps;       // ftTimeStamps
    DWORD numTimeStamps = 0;                 // ReadAtTime
    ULONGLONG interval = 0;                  // ftResampleInterval, ftUpdateInterval
    DWORD numIntervals = 0;                  // AdviseProcessed
    std::vector<RecordedValue> values;       // vDataValues
    std::vector<RecordedFilter> filters;     // CreateBrowse
    DWORD transactionId = 0;                 // asynchronous requests
    DWORD cancelId = 0;                      // Cancel
    DWORD browseType = 0;                    // GetEnum; IEnumString::Next of its enumerator
    DWORD browseDirection = 0;               // ChangeBrowsePosition
    std::u16string text;                     // szString, szNode
};

// ---- Answer hooks: each replaces the default answer of its method when set ----
// The call is recorded (arguments as passed) before the hook runs and its result after. Hooks may
// answer anything at all, malformed answers included.
struct RecordingHooks {
    // IOPCHDA_Server
    std::function<HRESULT(DWORD* pdwCount, DWORD** ppdwAttrID, LPWSTR** ppszAttrName, LPWSTR** ppszAttrDesc,
                          VARTYPE** ppvtAttrDataType)>
        GetItemAttributes;
    std::function<HRESULT(DWORD* pdwCount, DWORD** ppdwAggrID, LPWSTR** ppszAggrName, LPWSTR** ppszAggrDesc)>
        GetAggregates;
    std::function<HRESULT(OPCHDA_SERVERSTATUS* pwStatus, FILETIME** pftCurrentTime, FILETIME** pftStartTime,
                          WORD* pwMajorVersion, WORD* pwMinorVersion, WORD* pwBuildNumber,
                          DWORD* pdwMaxReturnValues, LPWSTR* ppszStatusString, LPWSTR* ppszVendorInfo)>
        GetHistorianStatus;
    std::function<HRESULT(DWORD dwCount, LPWSTR* pszItemID, OPCHANDLE* phClient, OPCHANDLE** pphServer,
                          HRESULT** ppErrors)>
        GetItemHandles;
    std::function<HRESULT(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors)> ReleaseItemHandles;
    std::function<HRESULT(DWORD dwCount, LPWSTR* pszItemID, HRESULT** ppErrors)> ValidateItemIDs;
    std::function<HRESULT(DWORD dwCount, DWORD* pdwAttrID, OPCHDA_OPERATORCODES* pOperator, VARIANT* vFilter,
                          IOPCHDA_Browser** pphBrowser, HRESULT** ppErrors)>
        CreateBrowse;

    // IOPCHDA_Browser
    std::function<HRESULT(OPCHDA_BROWSETYPE dwBrowseType, IEnumString** ppIEnumString)> GetEnum;
    std::function<HRESULT(OPCHDA_BROWSEDIRECTION dwBrowseDirection, LPCWSTR szString)> ChangeBrowsePosition;
    std::function<HRESULT(LPCWSTR szNode, LPWSTR* pszItemID)> GetItemID;
    std::function<HRESULT(LPWSTR* pszBranchPos)> GetBranchPosition;
    // IEnumString::Next of the enumerators the default GetEnum returns, instead of delivering their
    // list: `call` counts this enumerator's Next calls from 0, `names` is what it would deliver.
    // (An enumerator that never ends, or S_OK without a string, is one line here.)
    std::function<HRESULT(OPCHDA_BROWSETYPE type, ULONG call, const std::vector<std::u16string>& names,
                          ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched)>
        EnumNext;

    // IOPCHDA_SyncRead
    std::function<HRESULT(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime, DWORD dwNumValues, BOOL bBounds,
                          DWORD dwNumItems, OPCHANDLE* phServer, OPCHDA_ITEM** ppItemValues,
                          HRESULT** ppErrors)>
        ReadRaw;
    std::function<HRESULT(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime, FILETIME ftResampleInterval,
                          DWORD dwNumItems, OPCHANDLE* phServer, DWORD* haAggregate,
                          OPCHDA_ITEM** ppItemValues, HRESULT** ppErrors)>
        ReadProcessed;
    std::function<HRESULT(DWORD dwNumTimeStamps, FILETIME* ftTimeStamps, DWORD dwNumItems,
                          OPCHANDLE* phServer, OPCHDA_ITEM** ppItemValues, HRESULT** ppErrors)>
        ReadAtTime;
    std::function<HRESULT(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime, DWORD dwNumValues,
                          DWORD dwNumItems, OPCHANDLE* phServer, OPCHDA_MODIFIEDITEM** ppItemValues,
                          HRESULT** ppErrors)>
        ReadModified;
    std::function<HRESULT(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime, OPCHANDLE hServer,
                          DWORD dwNumAttributes, DWORD* pdwAttributeIDs, OPCHDA_ATTRIBUTE** ppAttributeValues,
                          HRESULT** ppErrors)>
        ReadAttribute;

    // IOPCHDA_SyncUpdate
    std::function<HRESULT(OPCHDA_UPDATECAPABILITIES* pCapabilities)> QueryCapabilities;
    using UpdateHook = std::function<HRESULT(DWORD dwNumItems, OPCHANDLE* phServer, FILETIME* ftTimeStamps,
                                             VARIANT* vDataValues, DWORD* pdwQualities, HRESULT** ppErrors)>;
    UpdateHook Insert;
    UpdateHook Replace;
    UpdateHook InsertReplace;
    std::function<HRESULT(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime, DWORD dwNumItems,
                          OPCHANDLE* phServer, HRESULT** ppErrors)>
        DeleteRaw;
    std::function<HRESULT(DWORD dwNumItems, OPCHANDLE* phServer, FILETIME* ftTimeStamps, HRESULT** ppErrors)>
        DeleteAtTime;

    // IOPCHDA_AsyncRead (the methods the interface names ReadRaw etc., prefixed here)
    std::function<HRESULT(DWORD dwTransactionID, OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime,
                          DWORD dwNumValues, BOOL bBounds, DWORD dwNumItems, OPCHANDLE* phServer,
                          DWORD* pdwCancelID, HRESULT** ppErrors)>
        AsyncReadRaw;
    std::function<HRESULT(DWORD dwTransactionID, OPCHDA_TIME* htStartTime, FILETIME ftUpdateInterval,
                          DWORD dwNumItems, OPCHANDLE* phServer, DWORD* pdwCancelID, HRESULT** ppErrors)>
        AsyncAdviseRaw;
    std::function<HRESULT(DWORD dwTransactionID, OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime,
                          FILETIME ftResampleInterval, DWORD dwNumItems, OPCHANDLE* phServer,
                          DWORD* haAggregate, DWORD* pdwCancelID, HRESULT** ppErrors)>
        AsyncReadProcessed;
    std::function<HRESULT(DWORD dwTransactionID, OPCHDA_TIME* htStartTime, FILETIME ftResampleInterval,
                          DWORD dwNumItems, OPCHANDLE* phServer, DWORD* haAggregate, DWORD dwNumIntervals,
                          DWORD* pdwCancelID, HRESULT** ppErrors)>
        AsyncAdviseProcessed;
    std::function<HRESULT(DWORD dwTransactionID, DWORD dwNumTimeStamps, FILETIME* ftTimeStamps,
                          DWORD dwNumItems, OPCHANDLE* phServer, DWORD* pdwCancelID, HRESULT** ppErrors)>
        AsyncReadAtTime;
    std::function<HRESULT(DWORD dwTransactionID, OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime,
                          DWORD dwNumValues, DWORD dwNumItems, OPCHANDLE* phServer, DWORD* pdwCancelID,
                          HRESULT** ppErrors)>
        AsyncReadModified;
    std::function<HRESULT(DWORD dwTransactionID, OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime,
                          OPCHANDLE hServer, DWORD dwNumAttributes, DWORD* dwAttributeIDs, DWORD* pdwCancelID,
                          HRESULT** ppErrors)>
        AsyncReadAttribute;
    std::function<HRESULT(DWORD dwCancelID)> AsyncCancel;

    // Object level. CreateInstance: a failure code makes the class object's CreateInstance fail with
    // it (no server is made). QueryInterface (server object): a failure code makes QueryInterface
    // fail with it for that IID; std::nullopt or a success code leaves the normal answer. AddRef
    // (server object): the value AddRef reports, given the real new count (which still rises).
    std::function<HRESULT()> CreateInstance;
    std::function<std::optional<HRESULT>(REFIID riid)> QueryInterface;
    std::function<ULONG(ULONG newCount)> AddRef;
};

// ---- The control interface ----
struct IRecordingControl : IUnknown {
    // Back to the class's defaults: no hooks, the profile's interfaces, the default address space,
    // an empty log, server serial numbers from 1 again. Live objects are not touched.
    virtual void Reset() = 0;
    virtual std::vector<RecordedCall> Calls() = 0;
    virtual std::vector<RecordedCall> CallsTo(const std::string& method) = 0;
    virtual void ClearCalls() = 0;
    // The hooks, to set or clear in place: ctl->Hooks().ReadRaw = [](...) { ... };
    virtual RecordingHooks& Hooks() = 0;
    // Which interfaces QueryInterface offers on server objects made from now on and on existing ones.
    virtual void SetOffered(DWORD offerMask) = 0;
    virtual DWORD Offered() = 0;
    // The item IDs browsers made from now on show; `separator` splits them into levels.
    virtual void SetAddressSpace(const std::vector<std::u16string>& itemIds, char16_t separator) = 0;
    // Server objects created (CreateInstance succeeded) since the last Reset.
    virtual long ServersCreated() = 0;
    // Server, browser and enumerator objects of this class alive now, and the references held on
    // them (each object's count, summed). Both 0 once every user has released everything.
    virtual long LiveObjects() = 0;
    virtual long OutstandingReferences() = 0;
    // The same over every class of the plugin.
    virtual long PluginLiveObjects() = 0;
    virtual long PluginOutstandingReferences() = 0;
    // The misbehaviours (kMisbehave* bits) of the default answers; Reset clears them.
    virtual void SetMisbehaviour(DWORD flags) = 0;
    virtual DWORD Misbehaviour() = 0;

protected:
    ~IRecordingControl() = default;
};

// ---- Helpers for tests ----

// The control of a class (COM must be initialised and the class registered).
inline HRESULT GetControl(REFCLSID clsid, IRecordingControl** control) {
    return CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IRecordingControl,
                            reinterpret_cast<void**>(control));
}

// Holds a class's control and resets it on construction and destruction, so that hooks capturing a
// test's locals never outlive the test. Check ok() (or control()) before use.
class ScopedControl {
public:
    explicit ScopedControl(REFCLSID clsid) {
        m_hr = GetControl(clsid, &m_control);
        if (m_control) m_control->Reset();
    }
    ~ScopedControl() {
        if (m_control) {
            m_control->Reset();
            m_control->Release();
        }
    }
    ScopedControl(const ScopedControl&) = delete;
    ScopedControl& operator=(const ScopedControl&) = delete;
    bool ok() const { return m_control != nullptr; }
    HRESULT hr() const { return m_hr; }
    IRecordingControl* control() const { return m_control; }
    IRecordingControl* operator->() const { return m_control; }

private:
    IRecordingControl* m_control = nullptr;
    HRESULT m_hr = E_FAIL;
};

// Writes a class entry for the plugin at `pluginPath` (tests get it as HDATEST_RECORDING_PATH) into
// the store RegisterComClass writes to (the VISTREL_CLASS_STORE directory in tests). An empty progId
// registers a class without one.
inline HRESULT RegisterRecordingClass(const std::string& pluginPath, Profile profile, std::u16string progId,
                                      WORD variant = 0, bool hdaCategory = true) {
    com::ClassRegistration reg;
    reg.clsid = RecordingClsid(profile, variant);
    reg.progId = progId;
    std::size_t dot = progId.rfind(u'.');
    reg.versionIndependentProgId = dot == std::u16string::npos ? progId : progId.substr(0, dot);
    reg.description = u"HDA Vistrel recording test server";
    reg.libraryPath = pluginPath;
    if (hdaCategory) reg.categories.push_back(CATID_OPCHDAServer10);
    return com::RegisterComClass(reg);
}

// The five profiles under their standard ProgIDs, in kAllProfiles order (what DllRegisterServer does).
inline HRESULT RegisterRecordingProfiles(const std::string& pluginPath) {
    for (Profile p : kAllProfiles) {
        HRESULT hr = RegisterRecordingClass(pluginPath, p, ProfileProgId(p));
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

// Answer builders for hooks: blocks from CoTaskMemAlloc, as the ownership rules require.
template <class T>
T* TaskArray(std::size_t n) {
    void* p = CoTaskMemAlloc(n == 0 ? sizeof(T) : n * sizeof(T));
    if (p) std::memset(p, 0, n == 0 ? sizeof(T) : n * sizeof(T));
    return static_cast<T*>(p);
}
template <class T>
T* TaskArray(std::initializer_list<T> values) {
    T* p = TaskArray<T>(values.size());
    if (p) std::copy(values.begin(), values.end(), p);
    return p;
}
// A block of exactly `bytes` bytes (0 too), filled with 0xCD: too short for what the pointer promises.
template <class T>
T* TaskBlock(std::size_t bytes) {
    void* p = CoTaskMemAlloc(bytes);
    if (p && bytes) std::memset(p, 0xCD, bytes);
    return static_cast<T*>(p);
}
// The characters in a block of exactly their size: no terminator inside it.
inline LPWSTR UnterminatedTaskString(std::u16string_view s) {
    auto* p = static_cast<LPWSTR>(CoTaskMemAlloc(s.size() * sizeof(WCHAR)));
    if (p) std::copy(s.begin(), s.end(), p);
    return p;
}
inline LPWSTR TaskString(std::u16string_view s) {
    auto* p = static_cast<LPWSTR>(CoTaskMemAlloc((s.size() + 1) * sizeof(WCHAR)));
    if (p) {
        std::copy(s.begin(), s.end(), p);
        p[s.size()] = 0;
    }
    return p;
}
// One OPCHDA_ITEM with `n` VT_R8 values value0, value0 + 1, ... at time0, time0 + 1 s, ...
inline OPCHDA_ITEM MakeItem(OPCHANDLE hClient, DWORD count, ULONGLONG time0 = kStatusNowTicks,
                            double value0 = 0, DWORD quality = OPC_QUALITY_GOOD | OPCHDA_RAW,
                            DWORD aggregate = 0) {
    OPCHDA_ITEM item{};
    item.hClient = hClient;
    item.haAggregate = aggregate;
    item.dwCount = count;
    item.pftTimeStamps = TaskArray<FILETIME>(count);
    item.pdwQualities = TaskArray<DWORD>(count);
    item.pvDataValues = TaskArray<VARIANT>(count);
    for (DWORD i = 0; i < count; ++i) {
        item.pftTimeStamps[i] = U64ToFileTime(time0 + ULONGLONG(i) * 10000000ULL);
        item.pdwQualities[i] = quality;
        item.pvDataValues[i].vt = VT_R8;
        item.pvDataValues[i].dblVal = value0 + i;
    }
    return item;
}

}  // namespace hdatest

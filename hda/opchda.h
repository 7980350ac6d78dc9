// The OPC Historical Data Access 1.20 custom interface: identifiers, constants, records and
// interfaces under their standard names and in their standard method order. A server plugin is
// written against this header and the COM runtime alone.
#pragma once

#include "com/oleauto.h"
#include "com/types.h"
#include "com/unknwn.h"

using OPCHANDLE = DWORD;

// ---- Identifiers (checked digit by digit against the HDA 1.20 standard's IDL) ----
inline constexpr IID IID_IOPCHDA_Server = {
    0x1F1217B0, 0xDEE0, 0x11D2, {0xA5, 0xE5, 0x00, 0x00, 0x86, 0x33, 0x93, 0x99}};
inline constexpr IID IID_IOPCHDA_Browser = {
    0x1F1217B1, 0xDEE0, 0x11D2, {0xA5, 0xE5, 0x00, 0x00, 0x86, 0x33, 0x93, 0x99}};
inline constexpr IID IID_IOPCHDA_SyncRead = {
    0x1F1217B2, 0xDEE0, 0x11D2, {0xA5, 0xE5, 0x00, 0x00, 0x86, 0x33, 0x93, 0x99}};
inline constexpr IID IID_IOPCHDA_SyncUpdate = {
    0x1F1217B3, 0xDEE0, 0x11D2, {0xA5, 0xE5, 0x00, 0x00, 0x86, 0x33, 0x93, 0x99}};
inline constexpr IID IID_IOPCHDA_SyncAnnotations = {
    0x1F1217B4, 0xDEE0, 0x11D2, {0xA5, 0xE5, 0x00, 0x00, 0x86, 0x33, 0x93, 0x99}};
inline constexpr IID IID_IOPCHDA_AsyncRead = {
    0x1F1217B5, 0xDEE0, 0x11D2, {0xA5, 0xE5, 0x00, 0x00, 0x86, 0x33, 0x93, 0x99}};
inline constexpr IID IID_IOPCHDA_AsyncUpdate = {
    0x1F1217B6, 0xDEE0, 0x11D2, {0xA5, 0xE5, 0x00, 0x00, 0x86, 0x33, 0x93, 0x99}};
inline constexpr IID IID_IOPCHDA_AsyncAnnotations = {
    0x1F1217B7, 0xDEE0, 0x11D2, {0xA5, 0xE5, 0x00, 0x00, 0x86, 0x33, 0x93, 0x99}};
inline constexpr IID IID_IOPCHDA_Playback = {
    0x1F1217B8, 0xDEE0, 0x11D2, {0xA5, 0xE5, 0x00, 0x00, 0x86, 0x33, 0x93, 0x99}};
inline constexpr IID IID_IOPCHDA_DataCallback = {
    0x1F1217B9, 0xDEE0, 0x11D2, {0xA5, 0xE5, 0x00, 0x00, 0x86, 0x33, 0x93, 0x99}};
inline constexpr GUID LIBID_OPCHDA = {
    0x1F1217BA, 0xDEE0, 0x11D2, {0xA5, 0xE5, 0x00, 0x00, 0x86, 0x33, 0x93, 0x99}};
// Note A5E6 in the category, not A5E5.
inline constexpr CATID CATID_OPCHDAServer10 = {
    0x7DE5B060, 0xE089, 0x11D2, {0xA5, 0xE6, 0x00, 0x00, 0x86, 0x33, 0x93, 0x99}};
inline constexpr CLSID CLSID_OpcServerList = {
    0x13486D51, 0x4821, 0x11D2, {0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00}};
inline constexpr IID IID_IOPCServerList = {
    0x13486D50, 0x4821, 0x11D2, {0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00}};
inline constexpr IID IID_IOPCServerList2 = {
    0x9DD0B56C, 0xAD9E, 0x43EE, {0x83, 0x05, 0x48, 0x7F, 0x31, 0x88, 0xBF, 0x7A}};
inline constexpr IID IID_IOPCEnumGUID = {
    0x55C382C8, 0x21C7, 0x4E88, {0x96, 0xC1, 0xBE, 0xCF, 0xB1, 0xE3, 0xF4, 0x83}};
inline constexpr IID IID_IOPCCommon = {
    0xF31DFDE2, 0x07B6, 0x11D2, {0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
inline constexpr IID IID_IOPCShutdown = {
    0xF31DFDE1, 0x07B6, 0x11D2, {0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};

// ---- Result codes ----
constexpr HRESULT OPC_E_INVALIDHANDLE = MAKE_HRESULT_U(0xC0040001);
constexpr HRESULT OPC_E_BADTYPE = MAKE_HRESULT_U(0xC0040004);
constexpr HRESULT OPC_E_PUBLIC = MAKE_HRESULT_U(0xC0040005);
constexpr HRESULT OPC_E_BADRIGHTS = MAKE_HRESULT_U(0xC0040006);
constexpr HRESULT OPC_E_UNKNOWNITEMID = MAKE_HRESULT_U(0xC0040007);
constexpr HRESULT OPC_E_INVALIDITEMID = MAKE_HRESULT_U(0xC0040008);
constexpr HRESULT OPC_E_INVALIDFILTER = MAKE_HRESULT_U(0xC0040009);
constexpr HRESULT OPC_E_UNKNOWNPATH = MAKE_HRESULT_U(0xC004000A);
constexpr HRESULT OPC_E_RANGE = MAKE_HRESULT_U(0xC004000B);
constexpr HRESULT OPC_E_DUPLICATENAME = MAKE_HRESULT_U(0xC004000C);
constexpr HRESULT OPC_S_UNSUPPORTEDRATE = MAKE_HRESULT_U(0x0004000D);
constexpr HRESULT OPC_S_CLAMP = MAKE_HRESULT_U(0x0004000E);
constexpr HRESULT OPC_S_INUSE = MAKE_HRESULT_U(0x0004000F);
constexpr HRESULT OPC_E_INVALIDCONFIGFILE = MAKE_HRESULT_U(0xC0040010);
constexpr HRESULT OPC_E_NOTFOUND = MAKE_HRESULT_U(0xC0040011);
constexpr HRESULT OPC_E_INVALID_PID = MAKE_HRESULT_U(0xC0040203);

constexpr HRESULT OPC_E_MAXEXCEEDED = MAKE_HRESULT_U(0xC0041001);
constexpr HRESULT OPC_S_NODATA = MAKE_HRESULT_U(0x40041002);
constexpr HRESULT OPC_S_MOREDATA = MAKE_HRESULT_U(0x40041003);
constexpr HRESULT OPC_E_INVALIDAGGREGATE = MAKE_HRESULT_U(0xC0041004);
constexpr HRESULT OPC_S_CURRENTVALUE = MAKE_HRESULT_U(0x40041005);
constexpr HRESULT OPC_S_EXTRADATA = MAKE_HRESULT_U(0x40041006);
constexpr HRESULT OPC_W_NOFILTER = MAKE_HRESULT_U(0x80041007);  // a warning, yet FAILED() is true
constexpr HRESULT OPC_E_UNKNOWNATTRID = MAKE_HRESULT_U(0xC0041008);
constexpr HRESULT OPC_E_NOT_AVAIL = MAKE_HRESULT_U(0xC0041009);
constexpr HRESULT OPC_E_INVALIDDATATYPE = MAKE_HRESULT_U(0xC004100A);
constexpr HRESULT OPC_E_DATAEXISTS = MAKE_HRESULT_U(0xC004100B);
constexpr HRESULT OPC_E_INVALIDATTRID = MAKE_HRESULT_U(0xC004100C);
constexpr HRESULT OPC_E_NODATAEXISTS = MAKE_HRESULT_U(0xC004100D);
constexpr HRESULT OPC_S_INSERTED = MAKE_HRESULT_U(0x4004100E);
constexpr HRESULT OPC_S_REPLACED = MAKE_HRESULT_U(0x4004100F);

// ---- Quality word: HDA flags in the high word ----
constexpr DWORD OPCHDA_EXTRADATA = 0x00010000;
constexpr DWORD OPCHDA_INTERPOLATED = 0x00020000;
constexpr DWORD OPCHDA_RAW = 0x00040000;
constexpr DWORD OPCHDA_CALCULATED = 0x00080000;
constexpr DWORD OPCHDA_NOBOUND = 0x00100000;
constexpr DWORD OPCHDA_NODATA = 0x00200000;
constexpr DWORD OPCHDA_DATALOST = 0x00400000;
constexpr DWORD OPCHDA_CONVERSION = 0x00800000;
constexpr DWORD OPCHDA_PARTIAL = 0x01000000;

// ---- ... and the OPC Data Access quality in the low byte (QQSSSSLL) ----
constexpr DWORD OPC_QUALITY_MASK = 0xC0;
constexpr DWORD OPC_STATUS_MASK = 0xFC;
constexpr DWORD OPC_LIMIT_MASK = 0x03;
constexpr DWORD OPC_QUALITY_BAD = 0x00;
constexpr DWORD OPC_QUALITY_UNCERTAIN = 0x40;
constexpr DWORD OPC_QUALITY_GOOD = 0xC0;
constexpr DWORD OPC_QUALITY_CONFIG_ERROR = 0x04;
constexpr DWORD OPC_QUALITY_NOT_CONNECTED = 0x08;
constexpr DWORD OPC_QUALITY_DEVICE_FAILURE = 0x0C;
constexpr DWORD OPC_QUALITY_SENSOR_FAILURE = 0x10;
constexpr DWORD OPC_QUALITY_LAST_KNOWN = 0x14;
constexpr DWORD OPC_QUALITY_COMM_FAILURE = 0x18;
constexpr DWORD OPC_QUALITY_OUT_OF_SERVICE = 0x1C;
constexpr DWORD OPC_QUALITY_WAITING_FOR_INITIAL_DATA = 0x20;
constexpr DWORD OPC_QUALITY_LAST_USABLE = 0x44;
constexpr DWORD OPC_QUALITY_SENSOR_CAL = 0x50;
constexpr DWORD OPC_QUALITY_EGU_EXCEEDED = 0x54;
constexpr DWORD OPC_QUALITY_SUB_NORMAL = 0x58;
constexpr DWORD OPC_QUALITY_LOCAL_OVERRIDE = 0xD8;
constexpr DWORD OPC_LIMIT_OK = 0x00;
constexpr DWORD OPC_LIMIT_LOW = 0x01;
constexpr DWORD OPC_LIMIT_HIGH = 0x02;
constexpr DWORD OPC_LIMIT_CONST = 0x03;

// ---- Aggregates (haAggregate is a DWORD; vendor ids from 0x80000000) ----
enum OPCHDA_AGGREGATE : DWORD {
    OPCHDA_NOAGGREGATE = 0,
    OPCHDA_INTERPOLATIVE = 1,
    OPCHDA_TOTAL = 2,
    OPCHDA_AVERAGE = 3,
    OPCHDA_TIMEAVERAGE = 4,
    OPCHDA_COUNT = 5,
    OPCHDA_STDEV = 6,
    OPCHDA_MINIMUMACTUALTIME = 7,
    OPCHDA_MINIMUM = 8,
    OPCHDA_MAXIMUMACTUALTIME = 9,
    OPCHDA_MAXIMUM = 10,
    OPCHDA_START = 11,
    OPCHDA_END = 12,
    OPCHDA_DELTA = 13,
    OPCHDA_REGSLOPE = 14,
    OPCHDA_REGCONST = 15,
    OPCHDA_REGDEV = 16,
    OPCHDA_VARIANCE = 17,
    OPCHDA_RANGE = 18,
    OPCHDA_DURATIONGOOD = 19,
    OPCHDA_DURATIONBAD = 20,
    OPCHDA_PERCENTGOOD = 21,
    OPCHDA_PERCENTBAD = 22,
    OPCHDA_WORSTQUALITY = 23,
    OPCHDA_ANNOTATIONS = 24,
};

// ---- Item attributes (vendor ids from 0x80000000) ----
constexpr DWORD OPCHDA_DATA_TYPE = 0x01;
constexpr DWORD OPCHDA_DESCRIPTION = 0x02;
constexpr DWORD OPCHDA_ENG_UNITS = 0x03;
constexpr DWORD OPCHDA_STEPPED = 0x04;
constexpr DWORD OPCHDA_ARCHIVING = 0x05;
constexpr DWORD OPCHDA_DERIVE_EQUATION = 0x06;
constexpr DWORD OPCHDA_NODE_NAME = 0x07;
constexpr DWORD OPCHDA_PROCESS_NAME = 0x08;
constexpr DWORD OPCHDA_SOURCE_NAME = 0x09;
constexpr DWORD OPCHDA_SOURCE_TYPE = 0x0A;
constexpr DWORD OPCHDA_NORMAL_MAXIMUM = 0x0B;
constexpr DWORD OPCHDA_NORMAL_MINIMUM = 0x0C;
constexpr DWORD OPCHDA_ITEMID = 0x0D;
constexpr DWORD OPCHDA_MAX_TIME_INT = 0x0E;
constexpr DWORD OPCHDA_MIN_TIME_INT = 0x0F;
constexpr DWORD OPCHDA_EXCEPTION_DEV = 0x10;
constexpr DWORD OPCHDA_EXCEPTION_DEV_TYPE = 0x11;
constexpr DWORD OPCHDA_HIGH_ENTRY_LIMIT = 0x12;
constexpr DWORD OPCHDA_LOW_ENTRY_LIMIT = 0x13;

// ---- Enumerations (32-bit in memory) ----
enum OPCHDA_SERVERSTATUS : DWORD { OPCHDA_UP = 1, OPCHDA_DOWN = 2, OPCHDA_INDETERMINATE = 3 };
enum OPCHDA_BROWSEDIRECTION : DWORD {
    OPCHDA_BROWSE_UP = 1,
    OPCHDA_BROWSE_DOWN = 2,
    OPCHDA_BROWSE_DIRECT = 3
};
enum OPCHDA_BROWSETYPE : DWORD { OPCHDA_BRANCH = 1, OPCHDA_LEAF = 2, OPCHDA_FLAT = 3, OPCHDA_ITEMS = 4 };
enum OPCHDA_OPERATORCODES : DWORD {
    OPCHDA_EQUAL = 1,
    OPCHDA_LESS = 2,
    OPCHDA_LESSEQUAL = 3,
    OPCHDA_GREATER = 4,
    OPCHDA_GREATEREQUAL = 5,
    OPCHDA_NOTEQUAL = 6,
};
enum OPCHDA_EDITTYPE : DWORD {
    OPCHDA_INSERT = 1,
    OPCHDA_REPLACE = 2,
    OPCHDA_INSERTREPLACE = 3,
    OPCHDA_DELETE = 4
};
// Bit masks carried in enum types: a server returns the OR of what it supports.
enum OPCHDA_UPDATECAPABILITIES : DWORD {
    OPCHDA_INSERTCAP = 0x01,
    OPCHDA_REPLACECAP = 0x02,
    OPCHDA_INSERTREPLACECAP = 0x04,
    OPCHDA_DELETERAWCAP = 0x08,
    OPCHDA_DELETEATTIMECAP = 0x10,
};
enum OPCHDA_ANNOTATIONCAPABILITIES : DWORD {
    OPCHDA_READANNOTATIONCAP = 0x01,
    OPCHDA_INSERTANNOTATIONCAP = 0x02
};

// ---- Records (field order is the in-memory order) ----
// The null (unspecified) time is bString TRUE with an empty szTime.
struct OPCHDA_TIME {
    BOOL bString;
    LPWSTR szTime;
    FILETIME ftTime;
};

struct OPCHDA_ITEM {
    OPCHANDLE hClient;
    DWORD haAggregate;
    DWORD dwCount;
    FILETIME* pftTimeStamps;
    DWORD* pdwQualities;
    VARIANT* pvDataValues;
};

struct OPCHDA_ATTRIBUTE {
    OPCHANDLE hClient;
    DWORD dwNumValues;
    DWORD dwAttributeID;
    FILETIME* ftTimeStamps;
    VARIANT* vAttributeValues;
};

struct OPCHDA_MODIFIEDITEM {
    OPCHANDLE hClient;
    DWORD dwCount;
    FILETIME* pftTimeStamps;
    DWORD* pdwQualities;
    VARIANT* pvDataValues;
    FILETIME* pftModificationTime;
    OPCHDA_EDITTYPE* pEditType;
    LPWSTR* szUser;
};

struct OPCHDA_ANNOTATION {
    OPCHANDLE hClient;
    DWORD dwNumValues;
    FILETIME* ftTimeStamps;
    LPWSTR* szAnnotation;
    FILETIME* ftAnnotationTime;
    LPWSTR* szUser;
};

// ---- Interfaces. [out] arrays and strings come from CoTaskMemAlloc and belong to the caller ----
struct IOPCHDA_Browser;

struct IOPCHDA_Server : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetItemAttributes(DWORD* pdwCount, DWORD** ppdwAttrID,
                                                        LPWSTR** ppszAttrName, LPWSTR** ppszAttrDesc,
                                                        VARTYPE** ppvtAttrDataType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAggregates(DWORD* pdwCount, DWORD** ppdwAggrID,
                                                    LPWSTR** ppszAggrName, LPWSTR** ppszAggrDesc) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHistorianStatus(OPCHDA_SERVERSTATUS* pwStatus,
                                                         FILETIME** pftCurrentTime, FILETIME** pftStartTime,
                                                         WORD* pwMajorVersion, WORD* pwMinorVersion,
                                                         WORD* pwBuildNumber, DWORD* pdwMaxReturnValues,
                                                         LPWSTR* ppszStatusString,
                                                         LPWSTR* ppszVendorInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetItemHandles(DWORD dwCount, LPWSTR* pszItemID, OPCHANDLE* phClient,
                                                     OPCHANDLE** pphServer, HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReleaseItemHandles(DWORD dwCount, OPCHANDLE* phServer,
                                                         HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE ValidateItemIDs(DWORD dwCount, LPWSTR* pszItemID,
                                                      HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateBrowse(DWORD dwCount, DWORD* pdwAttrID,
                                                   OPCHDA_OPERATORCODES* pOperator, VARIANT* vFilter,
                                                   IOPCHDA_Browser** pphBrowser, HRESULT** ppErrors) = 0;

protected:
    ~IOPCHDA_Server() = default;
};
COM_DECLARE_IID(IOPCHDA_Server, IID_IOPCHDA_Server);

struct IOPCHDA_Browser : IUnknown {
    // S_FALSE means an empty set, but an enumerator is still returned and must be released.
    virtual HRESULT STDMETHODCALLTYPE GetEnum(OPCHDA_BROWSETYPE dwBrowseType,
                                              IEnumString** ppIEnumString) = 0;
    virtual HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCHDA_BROWSEDIRECTION dwBrowseDirection,
                                                           LPCWSTR szString) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetItemID(LPCWSTR szNode, LPWSTR* pszItemID) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBranchPosition(LPWSTR* pszBranchPos) = 0;

protected:
    ~IOPCHDA_Browser() = default;
};
COM_DECLARE_IID(IOPCHDA_Browser, IID_IOPCHDA_Browser);

struct IOPCHDA_SyncRead : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ReadRaw(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime,
                                              DWORD dwNumValues, BOOL bBounds, DWORD dwNumItems,
                                              OPCHANDLE* phServer, OPCHDA_ITEM** ppItemValues,
                                              HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadProcessed(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime,
                                                    FILETIME ftResampleInterval, DWORD dwNumItems,
                                                    OPCHANDLE* phServer, DWORD* haAggregate,
                                                    OPCHDA_ITEM** ppItemValues, HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadAtTime(DWORD dwNumTimeStamps, FILETIME* ftTimeStamps,
                                                 DWORD dwNumItems, OPCHANDLE* phServer,
                                                 OPCHDA_ITEM** ppItemValues, HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadModified(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime,
                                                   DWORD dwNumValues, DWORD dwNumItems, OPCHANDLE* phServer,
                                                   OPCHDA_MODIFIEDITEM** ppItemValues,
                                                   HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadAttribute(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime,
                                                    OPCHANDLE hServer, DWORD dwNumAttributes,
                                                    DWORD* pdwAttributeIDs,
                                                    OPCHDA_ATTRIBUTE** ppAttributeValues,
                                                    HRESULT** ppErrors) = 0;

protected:
    ~IOPCHDA_SyncRead() = default;
};
COM_DECLARE_IID(IOPCHDA_SyncRead, IID_IOPCHDA_SyncRead);

struct IOPCHDA_SyncUpdate : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryCapabilities(OPCHDA_UPDATECAPABILITIES* pCapabilities) = 0;
    virtual HRESULT STDMETHODCALLTYPE Insert(DWORD dwNumItems, OPCHANDLE* phServer, FILETIME* ftTimeStamps,
                                             VARIANT* vDataValues, DWORD* pdwQualities,
                                             HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE Replace(DWORD dwNumItems, OPCHANDLE* phServer, FILETIME* ftTimeStamps,
                                              VARIANT* vDataValues, DWORD* pdwQualities,
                                              HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE InsertReplace(DWORD dwNumItems, OPCHANDLE* phServer,
                                                    FILETIME* ftTimeStamps, VARIANT* vDataValues,
                                                    DWORD* pdwQualities, HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteRaw(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime,
                                                DWORD dwNumItems, OPCHANDLE* phServer,
                                                HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteAtTime(DWORD dwNumItems, OPCHANDLE* phServer,
                                                   FILETIME* ftTimeStamps, HRESULT** ppErrors) = 0;

protected:
    ~IOPCHDA_SyncUpdate() = default;
};
COM_DECLARE_IID(IOPCHDA_SyncUpdate, IID_IOPCHDA_SyncUpdate);

// The client's callback for the asynchronous interfaces. Every argument is [in]: the arrays stay the
// server's; the client copies what it keeps.
struct IOPCHDA_DataCallback : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransactionID, HRESULT hrStatus, DWORD dwNumItems,
                                                   OPCHDA_ITEM* pItemValues, HRESULT* phrErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD dwTransactionID, HRESULT hrStatus,
                                                     DWORD dwNumItems, OPCHDA_ITEM* pItemValues,
                                                     HRESULT* phrErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnReadModifiedComplete(DWORD dwTransactionID, HRESULT hrStatus,
                                                             DWORD dwNumItems,
                                                             OPCHDA_MODIFIEDITEM* pItemValues,
                                                             HRESULT* phrErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnReadAttributeComplete(DWORD dwTransactionID, HRESULT hrStatus,
                                                              OPCHANDLE hClient, DWORD dwNumItems,
                                                              OPCHDA_ATTRIBUTE* pAttributeValues,
                                                              HRESULT* phrErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnReadAnnotations(DWORD dwTransactionID, HRESULT hrStatus,
                                                        DWORD dwNumItems,
                                                        OPCHDA_ANNOTATION* pAnnotationValues,
                                                        HRESULT* phrErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnInsertAnnotations(DWORD dwTransactionID, HRESULT hrStatus,
                                                          DWORD dwCount, OPCHANDLE* phClients,
                                                          HRESULT* phrErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnPlayback(DWORD dwTransactionID, HRESULT hrStatus, DWORD dwNumItems,
                                                 OPCHDA_ITEM** ppItemValues, HRESULT* phrErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnUpdateComplete(DWORD dwTransactionID, HRESULT hrStatus, DWORD dwCount,
                                                       OPCHANDLE* phClients, HRESULT* phrErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD dwCancelID) = 0;

protected:
    ~IOPCHDA_DataCallback() = default;
};
COM_DECLARE_IID(IOPCHDA_DataCallback, IID_IOPCHDA_DataCallback);

struct IOPCHDA_AsyncRead : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ReadRaw(DWORD dwTransactionID, OPCHDA_TIME* htStartTime,
                                              OPCHDA_TIME* htEndTime, DWORD dwNumValues, BOOL bBounds,
                                              DWORD dwNumItems, OPCHANDLE* phServer, DWORD* pdwCancelID,
                                              HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE AdviseRaw(DWORD dwTransactionID, OPCHDA_TIME* htStartTime,
                                                FILETIME ftUpdateInterval, DWORD dwNumItems,
                                                OPCHANDLE* phServer, DWORD* pdwCancelID,
                                                HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadProcessed(DWORD dwTransactionID, OPCHDA_TIME* htStartTime,
                                                    OPCHDA_TIME* htEndTime, FILETIME ftResampleInterval,
                                                    DWORD dwNumItems, OPCHANDLE* phServer, DWORD* haAggregate,
                                                    DWORD* pdwCancelID, HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE AdviseProcessed(DWORD dwTransactionID, OPCHDA_TIME* htStartTime,
                                                      FILETIME ftResampleInterval, DWORD dwNumItems,
                                                      OPCHANDLE* phServer, DWORD* haAggregate,
                                                      DWORD dwNumIntervals, DWORD* pdwCancelID,
                                                      HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadAtTime(DWORD dwTransactionID, DWORD dwNumTimeStamps,
                                                 FILETIME* ftTimeStamps, DWORD dwNumItems,
                                                 OPCHANDLE* phServer, DWORD* pdwCancelID,
                                                 HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadModified(DWORD dwTransactionID, OPCHDA_TIME* htStartTime,
                                                   OPCHDA_TIME* htEndTime, DWORD dwNumValues,
                                                   DWORD dwNumItems, OPCHANDLE* phServer, DWORD* pdwCancelID,
                                                   HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadAttribute(DWORD dwTransactionID, OPCHDA_TIME* htStartTime,
                                                    OPCHDA_TIME* htEndTime, OPCHANDLE hServer,
                                                    DWORD dwNumAttributes, DWORD* dwAttributeIDs,
                                                    DWORD* pdwCancelID, HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE Cancel(DWORD dwCancelID) = 0;

protected:
    ~IOPCHDA_AsyncRead() = default;
};
COM_DECLARE_IID(IOPCHDA_AsyncRead, IID_IOPCHDA_AsyncRead);

// OPC Common 1.10.
struct IOPCCommon : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetLocaleID(LCID dwLcid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* pdwLcid) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LPWSTR* ppString) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR szName) = 0;

protected:
    ~IOPCCommon() = default;
};
COM_DECLARE_IID(IOPCCommon, IID_IOPCCommon);

struct IOPCShutdown : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) = 0;

protected:
    ~IOPCShutdown() = default;
};
COM_DECLARE_IID(IOPCShutdown, IID_IOPCShutdown);

// The OPC server-list service (class CLSID_OpcServerList). Pass 0, not -1, as "any" for cRequired.
struct IOPCServerList : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG cImplemented, CATID rgcatidImpl[],
                                                              ULONG cRequired, CATID rgcatidReq[],
                                                              IEnumGUID** ppenumClsid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClassDetails(REFCLSID clsid, LPOLESTR* ppszProgID,
                                                      LPOLESTR* ppszUserType) = 0;
    virtual HRESULT STDMETHODCALLTYPE CLSIDFromProgID(LPCOLESTR szProgId, LPCLSID clsid) = 0;

protected:
    ~IOPCServerList() = default;
};
COM_DECLARE_IID(IOPCServerList, IID_IOPCServerList);

// The COM objects of the simulation historian: the server (one engine each), its browsers and
// string enumerators, and the class factory.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "hda/opchda.h"
#include "servers/simulation/engine/engine.h"

namespace sim {

// {7D7C1C1D-E92C-4F82-9F4B-6BE53134DBB5}
inline constexpr CLSID CLSID_BrindlexSimulation = {
    0x7D7C1C1D, 0xE92C, 0x4F82, {0x9F, 0x4B, 0x6B, 0xE5, 0x31, 0x34, 0xDB, 0xB5}};

// Live objects and server locks of this library, for DllCanUnloadNow.
std::atomic<long>& LiveObjects();
std::atomic<long>& ServerLocks();

struct ObjectCount {
    ObjectCount() { ++LiveObjects(); }
    ~ObjectCount() { --LiveObjects(); }
    ObjectCount(const ObjectCount&) = delete;
    ObjectCount& operator=(const ObjectCount&) = delete;
};

// A browse filter that CreateBrowse accepted.
struct BrowseFilter {
    DWORD attribute = 0;
    OPCHDA_OPERATORCODES op = OPCHDA_EQUAL;
    VARTYPE kind = VT_EMPTY;  // VT_BSTR (text), VT_BOOL, VT_R8 (numbers), VT_CY (tick counts)
    std::u16string text;
    double number = 0;
    std::int64_t ticks = 0;
    bool flag = false;
};

// IOPCHDA_AsyncRead answers E_NOTIMPL for every method: the server has no data callbacks (and so
// no connection points). The interface exists because clients ask for it when they connect.
class SimServer : public com::ComObject<IOPCHDA_Server, IOPCHDA_SyncRead, IOPCHDA_SyncUpdate,
                                        IOPCHDA_AsyncRead, IOPCCommon> {
public:
    explicit SimServer(std::unique_ptr<Engine> engine);

    // IOPCHDA_Server
    HRESULT STDMETHODCALLTYPE GetItemAttributes(DWORD* pdwCount, DWORD** ppdwAttrID, LPWSTR** ppszAttrName,
                                                LPWSTR** ppszAttrDesc, VARTYPE** ppvtAttrDataType) override;
    HRESULT STDMETHODCALLTYPE GetAggregates(DWORD* pdwCount, DWORD** ppdwAggrID, LPWSTR** ppszAggrName,
                                            LPWSTR** ppszAggrDesc) override;
    HRESULT STDMETHODCALLTYPE GetHistorianStatus(OPCHDA_SERVERSTATUS* pwStatus, FILETIME** pftCurrentTime,
                                                 FILETIME** pftStartTime, WORD* pwMajorVersion,
                                                 WORD* pwMinorVersion, WORD* pwBuildNumber,
                                                 DWORD* pdwMaxReturnValues, LPWSTR* ppszStatusString,
                                                 LPWSTR* ppszVendorInfo) override;
    HRESULT STDMETHODCALLTYPE GetItemHandles(DWORD dwCount, LPWSTR* pszItemID, OPCHANDLE* phClient,
                                             OPCHANDLE** pphServer, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE ReleaseItemHandles(DWORD dwCount, OPCHANDLE* phServer,
                                                 HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE ValidateItemIDs(DWORD dwCount, LPWSTR* pszItemID, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE CreateBrowse(DWORD dwCount, DWORD* pdwAttrID, OPCHDA_OPERATORCODES* pOperator,
                                           VARIANT* vFilter, IOPCHDA_Browser** pphBrowser,
                                           HRESULT** ppErrors) override;

    // IOPCHDA_SyncRead
    HRESULT STDMETHODCALLTYPE ReadRaw(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime, DWORD dwNumValues,
                                      BOOL bBounds, DWORD dwNumItems, OPCHANDLE* phServer,
                                      OPCHDA_ITEM** ppItemValues, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE ReadProcessed(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime,
                                            FILETIME ftResampleInterval, DWORD dwNumItems,
                                            OPCHANDLE* phServer, DWORD* haAggregate,
                                            OPCHDA_ITEM** ppItemValues, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE ReadAtTime(DWORD dwNumTimeStamps, FILETIME* ftTimeStamps, DWORD dwNumItems,
                                         OPCHANDLE* phServer, OPCHDA_ITEM** ppItemValues,
                                         HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE ReadModified(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime,
                                           DWORD dwNumValues, DWORD dwNumItems, OPCHANDLE* phServer,
                                           OPCHDA_MODIFIEDITEM** ppItemValues, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE ReadAttribute(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime,
                                            OPCHANDLE hServer, DWORD dwNumAttributes, DWORD* pdwAttributeIDs,
                                            OPCHDA_ATTRIBUTE** ppAttributeValues,
                                            HRESULT** ppErrors) override;

    // IOPCHDA_SyncUpdate
    HRESULT STDMETHODCALLTYPE QueryCapabilities(OPCHDA_UPDATECAPABILITIES* pCapabilities) override;
    HRESULT STDMETHODCALLTYPE Insert(DWORD dwNumItems, OPCHANDLE* phServer, FILETIME* ftTimeStamps,
                                     VARIANT* vDataValues, DWORD* pdwQualities, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Replace(DWORD dwNumItems, OPCHANDLE* phServer, FILETIME* ftTimeStamps,
                                      VARIANT* vDataValues, DWORD* pdwQualities, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE InsertReplace(DWORD dwNumItems, OPCHANDLE* phServer, FILETIME* ftTimeStamps,
                                            VARIANT* vDataValues, DWORD* pdwQualities,
                                            HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE DeleteRaw(OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime, DWORD dwNumItems,
                                        OPCHANDLE* phServer, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE DeleteAtTime(DWORD dwNumItems, OPCHANDLE* phServer, FILETIME* ftTimeStamps,
                                           HRESULT** ppErrors) override;

    // IOPCHDA_AsyncRead: E_NOTIMPL throughout.
    HRESULT STDMETHODCALLTYPE ReadRaw(DWORD dwTransactionID, OPCHDA_TIME* htStartTime, OPCHDA_TIME* htEndTime,
                                      DWORD dwNumValues, BOOL bBounds, DWORD dwNumItems, OPCHANDLE* phServer,
                                      DWORD* pdwCancelID, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE AdviseRaw(DWORD dwTransactionID, OPCHDA_TIME* htStartTime,
                                        FILETIME ftUpdateInterval, DWORD dwNumItems, OPCHANDLE* phServer,
                                        DWORD* pdwCancelID, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE ReadProcessed(DWORD dwTransactionID, OPCHDA_TIME* htStartTime,
                                            OPCHDA_TIME* htEndTime, FILETIME ftResampleInterval,
                                            DWORD dwNumItems, OPCHANDLE* phServer, DWORD* haAggregate,
                                            DWORD* pdwCancelID, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE AdviseProcessed(DWORD dwTransactionID, OPCHDA_TIME* htStartTime,
                                              FILETIME ftResampleInterval, DWORD dwNumItems,
                                              OPCHANDLE* phServer, DWORD* haAggregate, DWORD dwNumIntervals,
                                              DWORD* pdwCancelID, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE ReadAtTime(DWORD dwTransactionID, DWORD dwNumTimeStamps, FILETIME* ftTimeStamps,
                                         DWORD dwNumItems, OPCHANDLE* phServer, DWORD* pdwCancelID,
                                         HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE ReadModified(DWORD dwTransactionID, OPCHDA_TIME* htStartTime,
                                           OPCHDA_TIME* htEndTime, DWORD dwNumValues, DWORD dwNumItems,
                                           OPCHANDLE* phServer, DWORD* pdwCancelID,
                                           HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE ReadAttribute(DWORD dwTransactionID, OPCHDA_TIME* htStartTime,
                                            OPCHDA_TIME* htEndTime, OPCHANDLE hServer, DWORD dwNumAttributes,
                                            DWORD* dwAttributeIDs, DWORD* pdwCancelID,
                                            HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Cancel(DWORD dwCancelID) override;

    // IOPCCommon
    HRESULT STDMETHODCALLTYPE SetLocaleID(LCID dwLcid) override;
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* pdwLcid) override;
    HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override;
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LPWSTR* ppString) override;
    HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR szName) override;

private:
    HRESULT UpdateValues(EditOp op, DWORD dwNumItems, OPCHANDLE* phServer, FILETIME* ftTimeStamps,
                         VARIANT* vDataValues, DWORD* pdwQualities, HRESULT** ppErrors);

    ObjectCount m_count;
    std::unique_ptr<Engine> m_engine;
    std::atomic<LCID> m_lcid{0x0409};
};

// One browse position over the address space. Independent of every other browser.
class SimBrowser : public com::ComObject<IOPCHDA_Browser> {
public:
    SimBrowser(std::shared_ptr<const AddressSpace> space, std::vector<BrowseFilter> filters,
               AttributeContext ctx);

    HRESULT STDMETHODCALLTYPE GetEnum(OPCHDA_BROWSETYPE dwBrowseType, IEnumString** ppIEnumString) override;
    HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCHDA_BROWSEDIRECTION dwBrowseDirection,
                                                   LPCWSTR szString) override;
    HRESULT STDMETHODCALLTYPE GetItemID(LPCWSTR szNode, LPWSTR* pszItemID) override;
    HRESULT STDMETHODCALLTYPE GetBranchPosition(LPWSTR* pszBranchPos) override;

private:
    bool Passes(const ItemDef& item) const;
    void Flat(int node, std::vector<std::u16string>& out) const;

    ObjectCount m_count;
    std::shared_ptr<const AddressSpace> m_space;
    std::vector<BrowseFilter> m_filters;
    AttributeContext m_ctx;
    std::mutex m_mutex;
    int m_node = 0;
};

class StringEnum : public com::ComObject<IEnumString> {
public:
    explicit StringEnum(std::shared_ptr<const std::vector<std::u16string>> strings, std::size_t pos = 0)
        : m_strings(std::move(strings)), m_pos(pos) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumString** ppenum) override;

private:
    ObjectCount m_count;
    std::shared_ptr<const std::vector<std::u16string>> m_strings;
    std::mutex m_mutex;
    std::size_t m_pos;
};

// Texts of the result codes this server returns.
const char16_t* ErrorText(HRESULT code);

}  // namespace sim

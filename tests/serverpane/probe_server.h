// A server object that notes, at every Release, whether COM is still initialised: it shows that a
// connection is released before the pane ends COM. Every HDA method answers E_NOTIMPL.
#pragma once

#include <vector>

#include "com/objbase.h"
#include "hda/opchda.h"

class ProbeServer
    : public com::ComObject<IOPCHDA_Server, IOPCHDA_SyncRead, IOPCHDA_SyncUpdate, IOPCHDA_AsyncRead> {
public:
    explicit ProbeServer(std::vector<bool>* pReleases) : m_pReleases(pReleases) {}

    ULONG STDMETHODCALLTYPE Release() override {
        // Initialising again answers S_FALSE only while COM is up; balance whatever succeeded.
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        m_pReleases->push_back(hr == S_FALSE);
        if (SUCCEEDED(hr)) CoUninitialize();
        return ComObject::Release();
    }

    // IOPCHDA_Server
    HRESULT STDMETHODCALLTYPE GetItemAttributes(DWORD*, DWORD**, LPWSTR**, LPWSTR**, VARTYPE**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetAggregates(DWORD*, DWORD**, LPWSTR**, LPWSTR**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetHistorianStatus(OPCHDA_SERVERSTATUS*, FILETIME**, FILETIME**, WORD*, WORD*,
                                                 WORD*, DWORD*, LPWSTR*, LPWSTR*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetItemHandles(DWORD, LPWSTR*, OPCHANDLE*, OPCHANDLE**, HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReleaseItemHandles(DWORD, OPCHANDLE*, HRESULT**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ValidateItemIDs(DWORD, LPWSTR*, HRESULT**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateBrowse(DWORD, DWORD*, OPCHDA_OPERATORCODES*, VARIANT*, IOPCHDA_Browser**,
                                           HRESULT**) override {
        return E_NOTIMPL;
    }
    // IOPCHDA_SyncRead
    HRESULT STDMETHODCALLTYPE ReadRaw(OPCHDA_TIME*, OPCHDA_TIME*, DWORD, BOOL, DWORD, OPCHANDLE*,
                                      OPCHDA_ITEM**, HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReadProcessed(OPCHDA_TIME*, OPCHDA_TIME*, FILETIME, DWORD, OPCHANDLE*, DWORD*,
                                            OPCHDA_ITEM**, HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReadAtTime(DWORD, FILETIME*, DWORD, OPCHANDLE*, OPCHDA_ITEM**,
                                         HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReadModified(OPCHDA_TIME*, OPCHDA_TIME*, DWORD, DWORD, OPCHANDLE*,
                                           OPCHDA_MODIFIEDITEM**, HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReadAttribute(OPCHDA_TIME*, OPCHDA_TIME*, OPCHANDLE, DWORD, DWORD*,
                                            OPCHDA_ATTRIBUTE**, HRESULT**) override {
        return E_NOTIMPL;
    }
    // IOPCHDA_SyncUpdate
    HRESULT STDMETHODCALLTYPE QueryCapabilities(OPCHDA_UPDATECAPABILITIES*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Insert(DWORD, OPCHANDLE*, FILETIME*, VARIANT*, DWORD*, HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Replace(DWORD, OPCHANDLE*, FILETIME*, VARIANT*, DWORD*, HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE InsertReplace(DWORD, OPCHANDLE*, FILETIME*, VARIANT*, DWORD*,
                                            HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteRaw(OPCHDA_TIME*, OPCHDA_TIME*, DWORD, OPCHANDLE*, HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteAtTime(DWORD, OPCHANDLE*, FILETIME*, HRESULT**) override {
        return E_NOTIMPL;
    }
    // IOPCHDA_AsyncRead (its ReadRaw etc. share names with IOPCHDA_SyncRead's but not signatures)
    HRESULT STDMETHODCALLTYPE ReadRaw(DWORD, OPCHDA_TIME*, OPCHDA_TIME*, DWORD, BOOL, DWORD, OPCHANDLE*,
                                      DWORD*, HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AdviseRaw(DWORD, OPCHDA_TIME*, FILETIME, DWORD, OPCHANDLE*, DWORD*,
                                        HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReadProcessed(DWORD, OPCHDA_TIME*, OPCHDA_TIME*, FILETIME, DWORD, OPCHANDLE*,
                                            DWORD*, DWORD*, HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AdviseProcessed(DWORD, OPCHDA_TIME*, FILETIME, DWORD, OPCHANDLE*, DWORD*, DWORD,
                                              DWORD*, HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReadAtTime(DWORD, DWORD, FILETIME*, DWORD, OPCHANDLE*, DWORD*,
                                         HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReadModified(DWORD, OPCHDA_TIME*, OPCHDA_TIME*, DWORD, DWORD, OPCHANDLE*,
                                           DWORD*, HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReadAttribute(DWORD, OPCHDA_TIME*, OPCHDA_TIME*, OPCHANDLE, DWORD, DWORD*,
                                            DWORD*, HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Cancel(DWORD) override { return E_NOTIMPL; }

private:
    std::vector<bool>* m_pReleases;
};

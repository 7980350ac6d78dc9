// The result set of the last history operation: the server's record array and per-entry result
// codes, owned and released here.
//
// A record array holds as many records as the client passed handles; the arrays inside a record hold
// dwCount entries. A server may claim more than it allocated, so every array is read and released no
// further than its task-memory block reaches. Records beyond the requested count are not part of the
// answer and are not looked at. An array that two records share is released once.
#pragma once

#include "com/types.h"
#include "hda/opchda.h"

namespace client {

class ResultSet {
public:
    ResultSet() = default;
    // Takes over both arrays (either may be null) of a call that passed dwRequested handles.
    ResultSet(OPCHDA_ITEM* pValues, HRESULT* pErrors, DWORD dwRequested)
        : m_pValues(pValues), m_pErrors(pErrors), m_dwRequested(dwRequested) {}
    ~ResultSet() { Release(); }
    ResultSet(ResultSet&& o) noexcept;
    ResultSet& operator=(ResultSet&& o) noexcept;
    ResultSet(const ResultSet&) = delete;
    ResultSet& operator=(const ResultSet&) = delete;

    const OPCHDA_ITEM* Values() const { return m_pValues; }
    const HRESULT* Errors() const { return m_pErrors; }
    // How many entries of each array may be read: the handles passed, bounded by what the server
    // really allocated (0 when both are null).
    DWORD Count() const;
    DWORD Requested() const { return m_dwRequested; }
    bool Empty() const { return !m_pValues && !m_pErrors; }

    // Releases the records with the arrays inside each and the values' contents, and the codes.
    void Release();

    // Appends values [from, count) of a page (bounded by what its blocks hold) to record i and sets
    // the record's result code. The record's arrays become new ones holding its own values, as far as
    // its blocks reach, then the page's; the old ones are released unless another record shares them.
    // False, with nothing changed, when i is not a readable record or memory runs out.
    bool Append(DWORD i, const OPCHDA_ITEM& page, std::size_t from, HRESULT hrCode);

private:
    OPCHDA_ITEM* m_pValues = nullptr;
    HRESULT* m_pErrors = nullptr;
    DWORD m_dwRequested = 0;
};

// Releases a record array of ReadAttribute: entries 0 .. nRecords-1 (at most as many as the block
// holds) with their timestamps and values, then the array. Null is fine.
void ReleaseAttributeValues(OPCHDA_ATTRIBUTE* pValues, DWORD nRecords);
// The same for a record array of the value reads, without a ResultSet around it.
void ReleaseItemValues(OPCHDA_ITEM* pValues, DWORD nRecords);

}  // namespace client

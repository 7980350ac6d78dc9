// Conversions between the engine's types and the HDA interfaces' records. Every block handed to a
// client comes from CoTaskMemAlloc (BSTRs from SysAllocString); a builder that fails frees what it
// made and leaves its out pointers NULL.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "hda/opchda.h"
#include "servers/simulation/engine/engine.h"

namespace sim {

// Copies text into a CoTaskMemAlloc'd string; NULL when memory runs out.
LPWSTR TaskString(std::u16string_view s);
// Allocates n elements (NULL for n == 0 or when memory runs out).
void* TaskArray(std::size_t n, std::size_t size);
template <class T>
T* TaskArrayOf(std::size_t n) {
    return static_cast<T*>(TaskArray(n, sizeof(T)));
}

// A value as a VARIANT (BSTRs allocated); E_OUTOFMEMORY when a BSTR cannot be made.
HRESULT ToVariant(const Value& v, VARIANT* out);
// A VARIANT of a supported type as a value; empty for any other type.
std::optional<Value> FromVariant(const VARIANT& v);

TimeArg ToTimeArg(const OPCHDA_TIME& t);
// Writes a resolved instant back into ftTime; leaves times that were not given alone.
void WriteBack(OPCHDA_TIME* t, const std::optional<Ticks>& resolved);

// The result records of a read, with the per-item codes.
HRESULT BuildItems(const std::vector<ItemRead>& items, OPCHDA_ITEM** ppItems, HRESULT** ppErrors);
HRESULT BuildModifiedItems(const std::vector<ModifiedRead>& items, OPCHDA_MODIFIEDITEM** ppItems,
                           HRESULT** ppErrors);
HRESULT BuildAttributes(const AttributeCall& call, OPCHDA_ATTRIBUTE** ppValues, HRESULT** ppErrors);
// A copy of a code array.
HRESULT BuildCodes(std::span<const HRESULT> codes, HRESULT** ppErrors);

// Frees records made by the builders (for their own clean-up and for tests).
void FreeItems(OPCHDA_ITEM* items, DWORD count);
void FreeModifiedItems(OPCHDA_MODIFIEDITEM* items, DWORD count);
void FreeAttributes(OPCHDA_ATTRIBUTE* values, DWORD count);

}  // namespace sim

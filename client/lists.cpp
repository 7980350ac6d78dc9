#include "client/lists.h"

#include <algorithm>

#include "com/ownership.h"
#include "com/text.h"

namespace client {

namespace {
using ReceivedStrings = com::Received<LPWSTR, com::FreeTaskMemElement>;
}  // namespace

AggregateList GetAggregates(IOPCHDA_Server* pServer) {
    AggregateList out;
    if (!pServer) return out;  // no connection: nothing to offer
    DWORD dwCount = 0;
    com::Received<DWORD> ids;
    ReceivedStrings names, descs;
    out.hr = pServer->GetAggregates(&dwCount, ids.Out(), names.Out(), descs.Out());
    // Whatever the count claims, no further than the arrays the server really allocated.
    ids.Claim(dwCount);
    names.Claim(dwCount);
    descs.Claim(dwCount);
    if (FAILED(out.hr)) {
        out.message =
            Message{com::FormatW(u"Error retrieving server aggregates, Error Code =  %x", {out.hr})};
        return out;
    }
    // Only aggregates with an id can be asked for.
    out.aggregates.resize(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        Aggregate& a = out.aggregates[i];
        a.id = ids[i];
        const com::ReceivedText name = com::ReadReceivedText(i < names.size() ? names[i] : nullptr);
        a.name = name.present ? name.text : com::FormatW(u"(no name, ID %u)", {a.id});
        if (i < descs.size()) a.description = com::ReadReceivedText(descs[i]).text;
    }
    return out;
}

std::u16string AttributeDisplayName(DWORD id) {
    return com::FormatW(u"(no name, ID %i)", {static_cast<LONG>(id)});
}

std::u16string AttributeDisplayName(const ItemAttribute& attribute) {
    return attribute.name ? *attribute.name : AttributeDisplayName(attribute.id);
}

AttributeList GetItemAttributes(IOPCHDA_Server* pServer) {
    AttributeList out;
    if (!pServer) return out;  // no connection: nothing to tick
    DWORD dwCount = 0;
    com::Received<DWORD> ids;
    ReceivedStrings names, descs;
    com::Received<VARTYPE> types;
    out.hr = pServer->GetItemAttributes(&dwCount, ids.Out(), names.Out(), descs.Out(), types.Out());
    ids.Claim(dwCount);
    names.Claim(dwCount);
    descs.Claim(dwCount);
    types.Claim(dwCount);
    if (FAILED(out.hr)) {
        out.message = Message{com::FormatW(u"Error Retrieving Aggregates, Function Returned 0x%x", {out.hr})};
        return out;
    }
    // The list is as long as the ids reach (and a LONG can count).
    const std::size_t n = std::min<std::size_t>(ids.size(), 0x7FFFFFFF);
    out.attributes.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        ItemAttribute& a = out.attributes[i];
        a.id = ids[i];
        if (i < names.size()) {
            com::ReceivedText name = com::ReadReceivedText(names[i]);
            if (name.present) a.name = std::move(name.text);
        }
        if (i < descs.size()) a.description = com::ReadReceivedText(descs[i]).text;
        if (i < types.size()) a.type = types[i];
    }
    return out;
}

}  // namespace client

#include "client/browsefilter.h"

#include "client/browse.h"
#include "com/objbase.h"
#include "com/oleauto.h"
#include "com/ownership.h"
#include "com/text.h"

namespace client {

namespace {

std::u16string Trim(std::u16string_view s) {
    while (!s.empty() && (s.front() == u' ' || s.front() == u'\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == u' ' || s.back() == u'\t')) s.remove_suffix(1);
    return std::u16string(s);
}

}  // namespace

std::optional<BrowseFilter> ParseBrowseFilter(std::u16string_view text, std::string* pError) {
    struct Op {
        std::u16string_view sign;
        OPCHDA_OPERATORCODES code;
    };
    // Two-character signs first, so that "<=" is not read as "<".
    static constexpr Op kOps[] = {{u"!=", OPCHDA_NOTEQUAL},     {u"<=", OPCHDA_LESSEQUAL},
                                  {u">=", OPCHDA_GREATEREQUAL}, {u"=", OPCHDA_EQUAL},
                                  {u"<", OPCHDA_LESS},          {u">", OPCHDA_GREATER}};
    std::size_t best = std::u16string_view::npos;
    const Op* found = nullptr;
    for (const Op& op : kOps) {
        const std::size_t at = text.find(op.sign);
        if (at != std::u16string_view::npos &&
            (at < best || (at == best && found && op.sign.size() > found->sign.size()))) {
            best = at;
            found = &op;
        }
    }
    if (!found) {
        *pError = "no operator (one of = != < <= > >=)";
        return std::nullopt;
    }
    BrowseFilter f;
    f.attribute = Trim(text.substr(0, best));
    f.op = found->code;
    f.value = Trim(text.substr(best + found->sign.size()));
    if (f.attribute.empty()) {
        *pError = "no attribute before the operator";
        return std::nullopt;
    }
    return f;
}

std::optional<Message> Browser::Create(IOPCHDA_Server* pServer, std::span<const DWORD> attributeIds,
                                       std::span<const BrowseFilter> filters,
                                       std::vector<HRESULT>* pFilterCodes) {
    m_pBrowser.Reset();
    constexpr char16_t kOops[] = u"Oops!";
    if (!pServer)
        return Message{u"Unable to get browser: the server is no longer connected", kOops,
                       hda::MsgIcon::None};
    const std::size_t n = std::min(attributeIds.size(), filters.size());
    std::vector<DWORD> ids(attributeIds.begin(), attributeIds.begin() + static_cast<std::ptrdiff_t>(n));
    std::vector<OPCHDA_OPERATORCODES> ops;
    std::vector<VARIANT> values(n);
    struct Clear {
        std::vector<VARIANT>& v;
        ~Clear() {
            for (auto& x : v) VariantClear(&x);
        }
    } clear{values};
    for (std::size_t i = 0; i < n; ++i) {
        ops.push_back(filters[i].op);
        VariantInit(&values[i]);
        values[i].bstrVal =
            SysAllocStringLen(filters[i].value.data(), static_cast<UINT>(filters[i].value.size()));
        if (!values[i].bstrVal) return Message{u"Out of Memory!", u"Error", hda::MsgIcon::None};
        values[i].vt = VT_BSTR;
    }
    IOPCHDA_Browser* pBrowser = nullptr;
    com::Received<HRESULT> errors;
    const HRESULT hr = pServer->CreateBrowse(static_cast<DWORD>(n), ids.data(), ops.data(), values.data(),
                                             &pBrowser, errors.Out());
    com::ComPtr<IOPCHDA_Browser> browser = com::AdoptInterface(pBrowser);
    if (FAILED(hr))
        return Message{com::FormatW(u"Unable to get browser: GetBrowser returns %x", {hr}), kOops,
                       hda::MsgIcon::None};
    if (!browser)
        return Message{
            com::FormatW(u"Unable to get browser: CreateBrowse returned %x without a browser", {hr}), kOops,
            hda::MsgIcon::None};
    if (pFilterCodes) {
        errors.Claim(n);
        pFilterCodes->assign(errors.view().begin(), errors.view().end());
        // An answer shorter than the filters leaves the rest unknown.
        pFilterCodes->resize(n, hr == S_OK ? S_OK : E_FAIL);
    }
    m_pBrowser = std::move(browser);
    return std::nullopt;
}

}  // namespace client

// FormatResultCode, FormatQuality, FormatVariant and FormatTimestamp as the output pane shows them.
//
// Result codes and qualities are shown once per cell of lists that may hold 100,000 rows: known codes
// and every quality are QStrings over the core's constant data, nothing is allocated for them.
#include "outputpane/textforms.h"

#include "client/textforms.h"
#include "outputpane/outputpane.h"

namespace {
QString RawView(std::u16string_view s) {
    return QString::fromRawData(reinterpret_cast<const QChar*>(s.data()), static_cast<qsizetype>(s.size()));
}
}  // namespace

QString COutputPane::FormatResultCode(HRESULT hr) {
    const std::u16string_view name = client::ResultCodeName(hr);
    if (!name.empty()) return RawView(name);
    return QString::fromStdU16String(client::FormatResultCode(hr));
}

QString COutputPane::FormatQuality(DWORD quality) {
    return RawView(client::FormatQuality(quality));
}

QString COutputPane::FormatVariant(const VARIANT& value) {
    return QString::fromStdU16String(client::FormatVariant(value));
}

QString FormatTimestamp(FILETIME ftUtc, client::TimeBasis basis) {
    return FormatTimestamp(ftUtc, client::CTimestampWriter(basis));
}

QString FormatTimestamp(FILETIME ftUtc, const client::CTimestampWriter& writer) {
    char16_t buf[client::kMaxTimestampChars];
    const std::size_t n = writer.Write(ftUtc, buf);
    return QString(reinterpret_cast<const QChar*>(buf), static_cast<qsizetype>(n));
}

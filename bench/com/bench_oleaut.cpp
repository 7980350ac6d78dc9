// The text paths the output pane runs per row: VARIANT to text, timestamps to local time text.
#include <benchmark/benchmark.h>

#include "com/oleauto.h"
#include "com/text.h"
#include "com/timeapi.h"

namespace {

// FormatVariant's road: copy, convert the copy in place to VT_BSTR, read, clear.
void ChangeTypeToText(benchmark::State& state, VARIANT value) {
    for (auto _ : state) {
        VARIANT copy;
        VariantInit(&copy);
        VariantCopy(&copy, &value);
        VariantChangeType(&copy, &copy, 0, VT_BSTR);
        benchmark::DoNotOptimize(copy.bstrVal);
        VariantClear(&copy);
    }
}

void BM_R8ToText(benchmark::State& state) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = 1234.5678901234;
    ChangeTypeToText(state, v);
}
BENCHMARK(BM_R8ToText);

void BM_I4ToText(benchmark::State& state) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = -123456;
    ChangeTypeToText(state, v);
}
BENCHMARK(BM_I4ToText);

void BM_TextToR8(benchmark::State& state) {
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(u"1234.5678901234");
    for (auto _ : state) {
        VARIANT r;
        VariantInit(&r);
        VariantChangeType(&r, &text, 0, VT_R8);
        benchmark::DoNotOptimize(r.dblVal);
    }
    VariantClear(&text);
}
BENCHMARK(BM_TextToR8);

// FormatTimestamp's road: to local time, split, format.
void BM_TimestampText(benchmark::State& state) {
    FILETIME utc = U64ToFileTime(128799543072500000ULL);
    for (auto _ : state) {
        FILETIME local;
        SYSTEMTIME st;
        FileTimeToLocalFileTime(&utc, &local);
        FileTimeToSystemTime(&local, &st);
        std::u16string s =
            com::FormatW(u"%04d/%02d/%02d %02d:%02d:%02d.%03d",
                         {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds});
        benchmark::DoNotOptimize(s.data());
    }
}
BENCHMARK(BM_TimestampText);

void BM_FormatWMessage(benchmark::State& state) {
    for (auto _ : state) {
        std::u16string s = com::FormatW(u"Connect to '%s' failed Return Code = %X",
                                        {u"Brindlex.OPC.Simulation", static_cast<HRESULT>(0x800706BA)});
        benchmark::DoNotOptimize(s.data());
    }
}
BENCHMARK(BM_FormatWMessage);

void BM_ScanTimeText(benchmark::State& state) {
    WORD f[7];
    for (auto _ : state) {
        int n =
            com::ScanTimeText(u"2009/02/24 13:05:07.250", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6]);
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_ScanTimeText);

}  // namespace

namespace {

void BM_FileTimeToLocal(benchmark::State& state) {
    FILETIME utc = U64ToFileTime(128799543072500000ULL);
    for (auto _ : state) {
        FILETIME local;
        FileTimeToLocalFileTime(&utc, &local);
        benchmark::DoNotOptimize(local);
    }
}
BENCHMARK(BM_FileTimeToLocal);

}  // namespace

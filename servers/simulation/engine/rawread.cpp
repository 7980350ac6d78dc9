// ReadRaw.
#include "servers/simulation/engine/rawread.h"

namespace sim {

Domain MakeDomain(const std::optional<Ticks>& start, const std::optional<Ticks>& end) {
    Domain d;
    if (start && end) {
        d.hasFar = true;
        d.nearT = *start;
        d.farT = *end;
        if (*start == *end) {
            d.single = true;
            d.lo = d.hi = *start;
        } else if (*start < *end) {
            d.lo = *start;
            d.hi = *end - 1;
        } else {
            d.backward = true;
            d.lo = *end + 1;
            d.hi = *start;
        }
    } else if (start) {
        d.nearT = d.lo = *start;
        d.hi = kMaxTicks > *start ? kMaxTicks : *start;
    } else {
        // End and a count: backwards, the value exactly at end included (errata 1).
        d.backward = true;
        d.nearT = d.hi = end.value_or(0);
        d.lo = 0;
    }
    return d;
}

namespace {

Sample AsRaw(Sample s) {
    s.quality = DaPart(s.quality) | OPCHDA_RAW;
    return s;
}

Sample Placeholder(Ticks t) {
    Sample s;
    s.t = t;
    s.quality = OPCHDA_NOBOUND;
    return s;
}

}  // namespace

ItemResult ReadRaw(Series& series, const RawQuery& query, std::size_t cap) {
    ItemResult r;
    const std::size_t capacity = query.numValues ? query.numValues : (cap ? cap : 1);
    const Domain d = MakeDomain(query.start, query.end);

    if (d.single) {
        // One instant: the value there or nothing, whatever bounds says (errata 1).
        if (auto s = series.Floor(d.lo, false); s && s->t == d.lo)
            r.samples.push_back(AsRaw(*s));
        else
            r.code = OPC_S_NODATA;
        return r;
    }

    bool foundBound = false;
    if (query.bounds) {
        // The near bound: the value at the instant where the read begins, else the nearest one
        // outside the domain. A value exactly there is also the first value of the domain and is
        // returned once.
        auto nb = d.backward ? series.Ceil(d.nearT, false) : series.Floor(d.nearT, false);
        if (nb) foundBound = true;
        if (!nb)
            r.samples.push_back(Placeholder(d.nearT));
        else if (nb->t != d.nearT)
            r.samples.push_back(AsRaw(*nb));
    }

    // One more than fits, to learn whether anything was left out.
    const std::size_t before = r.samples.size();
    const std::size_t room = capacity > before ? capacity - before : 0;
    const std::size_t got = series.Read(d.lo, d.hi, d.backward, room + 1, r.samples);
    bool more = false;
    if (got > room) {
        more = true;
        r.samples.resize(before + room);
    }
    const bool domainEmpty = got == 0;
    for (std::size_t k = before; k < r.samples.size(); ++k)
        r.samples[k].quality = DaPart(r.samples[k].quality) | OPCHDA_RAW;

    if (query.bounds && d.hasFar && !more) {
        auto fb = d.backward ? series.Floor(d.farT, false) : series.Ceil(d.farT, false);
        if (fb) foundBound = true;
        if (r.samples.size() >= capacity)
            more = true;  // only the far bound was cut: still more to read
        else
            r.samples.push_back(fb ? AsRaw(*fb) : Placeholder(d.farT));
    }

    if (domainEmpty && (!query.bounds || !foundBound)) {
        r.samples.clear();
        r.code = OPC_S_NODATA;
        return r;
    }
    r.code = more ? OPC_S_MOREDATA : S_OK;
    return r;
}

}  // namespace sim

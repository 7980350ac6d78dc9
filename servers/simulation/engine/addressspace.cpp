// The address space and its built-in items.
#include "servers/simulation/engine/addressspace.h"

#include <cfloat>
#include <fstream>
#include <sstream>

#include "com/text.h"

namespace sim {

namespace {

bool IsSpace16(char16_t c) {
    return c == u' ' || c == u'\t';
}

bool IsForbidden(char16_t c) {
    return c < 0x20 || c == 0x7F || c == u'*' || c == u'?' || c == u'"' || c == u'|' || c == u'\\';
}

std::u16string LastSegment(std::u16string_view id) {
    auto pos = id.rfind(u'.');
    return std::u16string(pos == std::u16string_view::npos ? id : id.substr(pos + 1));
}

std::u16string_view Parent(std::u16string_view path) {
    auto pos = path.rfind(u'.');
    return pos == std::u16string_view::npos ? std::u16string_view() : path.substr(0, pos);
}

// The span of values a type can hold, as entry limits.
void TypeSpan(VARTYPE vt, std::optional<double>& lo, std::optional<double>& hi) {
    switch (vt) {
        case VT_I1:
            lo = -128;
            hi = 127;
            break;
        case VT_I2:
            lo = -32768;
            hi = 32767;
            break;
        case VT_I4:
            lo = -2147483648.0;
            hi = 2147483647.0;
            break;
        case VT_UI1:
            lo = 0;
            hi = 255;
            break;
        case VT_UI2:
            lo = 0;
            hi = 65535;
            break;
        case VT_UI4:
            lo = 0;
            hi = 4294967295.0;
            break;
        case VT_R4:
            lo = -FLT_MAX;
            hi = FLT_MAX;
            break;
        case VT_R8:
            lo = -DBL_MAX;
            hi = DBL_MAX;
            break;
        case VT_CY:
            lo = -922337203685477.5808;
            hi = 922337203685477.5807;
            break;
        default:
            break;
    }
}

}  // namespace

bool IsWellFormedItemId(std::u16string_view id) {
    if (id.empty() || id.size() > 256) return false;
    std::size_t start = 0;
    while (true) {
        std::size_t end = id.find(u'.', start);
        std::u16string_view seg = id.substr(start, end == std::u16string_view::npos ? id.npos : end - start);
        if (seg.empty() || IsSpace16(seg.front()) || IsSpace16(seg.back())) return false;
        for (char16_t c : seg)
            if (IsForbidden(c)) return false;
        if (end == std::u16string_view::npos) return true;
        start = end + 1;
    }
}

bool WildcardMatch(std::u16string_view pattern, std::u16string_view text) {
    // Iterative matcher with one backtrack point for the last '*'.
    std::size_t p = 0, t = 0, starP = std::u16string_view::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starT = t;
        } else if (starP != std::u16string_view::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

AddressSpace::AddressSpace() {
    m_nodes.push_back(BrowseNode{});
    m_nodeIndex.emplace(u"", 0);
}

int AddressSpace::Find(std::u16string_view id) const {
    auto it = m_itemIndex.find(std::u16string(id));
    return it == m_itemIndex.end() ? -1 : it->second;
}

int AddressSpace::FindNode(std::u16string_view path) const {
    auto it = m_nodeIndex.find(std::u16string(path));
    return it == m_nodeIndex.end() ? -1 : it->second;
}

int AddressSpace::EnsureNode(std::u16string_view path) {
    if (int n = FindNode(path); n >= 0) return n;
    int parent = EnsureNode(Parent(path));
    BrowseNode node;
    node.name = LastSegment(path);
    node.path = std::u16string(path);
    node.parent = parent;
    int index = static_cast<int>(m_nodes.size());
    m_nodes.push_back(std::move(node));
    m_nodes[static_cast<std::size_t>(parent)].children.push_back(index);
    m_nodeIndex.emplace(std::u16string(path), index);
    return index;
}

bool AddressSpace::Add(ItemDef def, std::string* why) {
    auto fail = [&](const char* reason) {
        if (why) *why = reason;
        return false;
    };
    if (!IsWellFormedItemId(def.id)) return fail("malformed item ID");
    if (Find(def.id) >= 0) return fail("item ID already in use");
    if (!IsSupportedType(def.vt)) return fail("unsupported data type");
    if (def.kind == ItemKind::Generated && def.signal.samplePeriod == 0) return fail("no sampling period");
    def.name = LastSegment(def.id);
    if (IsNumericType(def.vt) && def.vt != VT_BOOL && def.vt != VT_DATE && !def.lowEntry && !def.highEntry)
        TypeSpan(def.vt, def.lowEntry, def.highEntry);
    if (!IsNumericType(def.vt) || def.vt == VT_BOOL) {
        def.normalMin.reset();
        def.normalMax.reset();
        def.lowEntry.reset();
        def.highEntry.reset();
    }
    if (def.vt == VT_BSTR || def.vt == VT_BOOL) def.stepped = true;  // nothing lies between two texts
    int index = static_cast<int>(m_items.size());
    int node = EnsureNode(def.id);
    m_nodes[static_cast<std::size_t>(node)].item = index;
    m_itemIndex.emplace(def.id, index);
    m_items.push_back(std::move(def));
    return true;
}

namespace {

struct GeneratedItem {
    const char16_t* id;
    VARTYPE vt;
    Wave wave;
    double amplitude, offset;
    double waveSeconds, sampleSeconds;
    bool stepped;
    const char16_t* units;
    const char16_t* description;
    QualityPattern quality = QualityPattern::AlwaysGood;
};

struct WritableItem {
    const char16_t* id;
    VARTYPE vt;
    bool stepped;
    const char16_t* units;
    const char16_t* description;
};

Ticks Seconds(double s) {
    return static_cast<Ticks>(s * static_cast<double>(kTicksPerSecond) + 0.5);
}

}  // namespace

AddressSpace AddressSpace::Builtin() {
    static const GeneratedItem kGenerated[] = {
        {u"Generated.Waves.Sine", VT_R8, Wave::Sine, 100, 0, 60, 1, false, u"",
         u"Sine wave, one minute period"},
        {u"Generated.Waves.Sawtooth", VT_R8, Wave::Sawtooth, 50, 50, 30, 1, false, u"",
         u"Sawtooth 0..100, 30 s period"},
        {u"Generated.Waves.Square", VT_R8, Wave::Square, 10, 10, 20, 1, true, u"",
         u"Square wave 0/20, 20 s period"},
        {u"Generated.Waves.Triangle", VT_R8, Wave::Triangle, 25, 0, 40, 2, false, u"",
         u"Triangle ±25, 40 s period"},
        {u"Generated.Waves.Random", VT_R8, Wave::Random, 10, 50, 60, 5, false, u"", u"Uniform random 40..60"},
        {u"Generated.Waves.FastSine", VT_R4, Wave::Sine, 1, 0, 1, 0.01, false, u"",
         u"Sine wave, 1 Hz, 100 samples a second"},
        {u"Generated.Waves.SlowSine", VT_R8, Wave::Sine, 10, 20, 86400, 60, false, u"°C",
         u"Daily sine 10..30"},
        {u"Generated.Types.Int1", VT_I1, Wave::Triangle, 100, 0, 50, 1, false, u"", u"Signed byte"},
        {u"Generated.Types.Int2", VT_I2, Wave::Sine, 30000, 0, 120, 2, false, u"", u"Signed 16-bit integer"},
        {u"Generated.Types.Int4", VT_I4, Wave::Sawtooth, 1000000, 0, 300, 5, false, u"",
         u"Signed 32-bit integer"},
        {u"Generated.Types.UInt1", VT_UI1, Wave::Random, 127.5, 127.5, 60, 1, false, u"", u"Unsigned byte"},
        {u"Generated.Types.UInt2", VT_UI2, Wave::Sine, 30000, 30000, 90, 3, false, u"",
         u"Unsigned 16-bit integer"},
        {u"Generated.Types.UInt4", VT_UI4, Wave::Counter, 0, 0, 3600, 1, true, u"",
         u"Counter of the seconds in the hour"},
        {u"Generated.Types.Real4", VT_R4, Wave::Sine, 1, 0, 10, 0.5, false, u"", u"Single-precision real"},
        {u"Generated.Types.Real8", VT_R8, Wave::Random, 1000, 0, 60, 1, false, u"", u"Double-precision real"},
        {u"Generated.Types.Currency", VT_CY, Wave::Sawtooth, 500, 500, 600, 10, false, u"EUR", u"Currency"},
        {u"Generated.Types.Boolean", VT_BOOL, Wave::Square, 1, 0, 30, 1, true, u"", u"Boolean, 30 s period"},
        {u"Generated.Types.Text", VT_BSTR, Wave::States, 0, 0, 120, 15, true, u"",
         u"Text cycling through machine states"},
        {u"Generated.Types.Date", VT_DATE, Wave::Clock, 0, 0, 60, 60, false, u"",
         u"The sample's own date and time"},
        {u"Generated.Plant.Boiler.Temperature", VT_R8, Wave::Sine, 20, 180, 600, 5, false, u"°C",
         u"Boiler water temperature"},
        {u"Generated.Plant.Boiler.Pressure", VT_R8, Wave::Triangle, 1.5, 10, 900, 5, false, u"bar",
         u"Boiler pressure"},
        {u"Generated.Plant.Boiler.Level", VT_R4, Wave::Sawtooth, 30, 50, 1800, 10, false, u"%",
         u"Drum level"},
        {u"Generated.Plant.Boiler.BurnerOn", VT_BOOL, Wave::Square, 1, 0, 300, 5, true, u"",
         u"Burner running"},
        {u"Generated.Plant.Boiler.State", VT_BSTR, Wave::States, 0, 0, 1200, 60, true, u"", u"Boiler state"},
        {u"Generated.Plant.Reactor", VT_R8, Wave::Sine, 5, 75, 1200, 10, false, u"°C",
         u"Reactor temperature"},
        {u"Generated.Plant.Reactor.Pressure", VT_R8, Wave::Random, 0.2, 3, 60, 10, false, u"bar",
         u"Reactor pressure"},
        {u"Generated.Plant.Reactor.Agitator.Speed", VT_I4, Wave::Triangle, 200, 1200, 600, 2, false, u"rpm",
         u"Agitator speed"},
        {u"Generated.Plant.Reactor.Agitator.Running", VT_BOOL, Wave::Square, 1, 0, 900, 10, true, u"",
         u"Agitator running"},
        {u"Generated.Plant.Line1.Count", VT_UI4, Wave::Counter, 0, 0, 86400, 10, true, u"pcs",
         u"Pieces produced today"},
        {u"Generated.Plant.Line1.Speed", VT_R8, Wave::Random, 5, 60, 60, 1, false, u"m/min", u"Line speed"},
        {u"Generated.Quality.Flaky", VT_R8, Wave::Sine, 10, 0, 120, 1, false, u"",
         u"Sine with Bad and Uncertain samples", QualityPattern::Flaky},
        {u"Generated.Quality.Sparse", VT_R8, Wave::Sine, 10, 0, 86400 * 7, 3600, false, u"",
         u"One sample an hour"},
    };
    static const WritableItem kWritable[] = {
        {u"Writable.Int1", VT_I1, false, u"", u"Stored signed byte"},
        {u"Writable.Int2", VT_I2, false, u"", u"Stored signed 16-bit integer"},
        {u"Writable.Int4", VT_I4, false, u"", u"Stored signed 32-bit integer"},
        {u"Writable.UInt1", VT_UI1, false, u"", u"Stored unsigned byte"},
        {u"Writable.UInt2", VT_UI2, false, u"", u"Stored unsigned 16-bit integer"},
        {u"Writable.UInt4", VT_UI4, false, u"", u"Stored unsigned 32-bit integer"},
        {u"Writable.Real4", VT_R4, false, u"", u"Stored single-precision real"},
        {u"Writable.Real8", VT_R8, false, u"", u"Stored double-precision real"},
        {u"Writable.Currency", VT_CY, false, u"EUR", u"Stored currency"},
        {u"Writable.Boolean", VT_BOOL, true, u"", u"Stored boolean"},
        {u"Writable.Text", VT_BSTR, true, u"", u"Stored text"},
        {u"Writable.Date", VT_DATE, false, u"", u"Stored date"},
        {u"Writable.Setpoint", VT_R8, true, u"°C", u"Stored set point (stepped)"},
        {u"Writable.Lab.Density", VT_R8, false, u"kg/m³", u"Laboratory density"},
        {u"Writable.Lab.Remark", VT_BSTR, true, u"", u"Laboratory remark"},
    };

    AddressSpace space;
    std::uint64_t seed = 1;
    for (const auto& g : kGenerated) {
        ItemDef def;
        def.id = g.id;
        def.kind = ItemKind::Generated;
        def.vt = g.vt;
        def.stepped = g.stepped;
        def.engUnits = g.units;
        def.description = g.description;
        def.signal.wave = g.wave;
        def.signal.amplitude = g.amplitude;
        def.signal.offset = g.offset;
        def.signal.wavePeriod = Seconds(g.waveSeconds);
        def.signal.samplePeriod = Seconds(g.sampleSeconds);
        def.signal.seed = seed++ * 0x2545F4914F6CDD1DULL;
        def.signal.quality = g.quality;
        if (g.wave == Wave::States) {
            if (def.id == u"Generated.Types.Text")
                def.signal.states = {u"Stopped", u"Starting", u"Running", u"Running", u"Stopping"};
            else
                def.signal.states = {u"Cold", u"Heating", u"Steady", u"Steady", u"Steady", u"Cooling"};
        }
        if (IsNumericType(g.vt) && g.wave != Wave::Clock) {
            double lo = g.offset - g.amplitude, hi = g.offset + g.amplitude;
            if (g.wave == Wave::Counter) {
                lo = g.offset;
                hi = g.offset + g.waveSeconds / g.sampleSeconds - 1;
            }
            def.normalMin = lo;
            def.normalMax = hi;
            def.lowEntry = lo;
            def.highEntry = hi;
        }
        space.Add(std::move(def));
    }
    for (const auto& w : kWritable) {
        ItemDef def;
        def.id = w.id;
        def.kind = ItemKind::Writable;
        def.vt = w.vt;
        def.stepped = w.stepped;
        def.engUnits = w.units;
        def.description = w.description;
        if (IsNumericType(w.vt) && w.vt != VT_DATE) {
            def.normalMin = 0;
            def.normalMax = 100;
        }
        space.Add(std::move(def));
    }
    return space;
}

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> SplitBar(std::string_view line) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        std::size_t bar = line.find('|', start);
        parts.push_back(Trim(line.substr(start, bar == std::string_view::npos ? line.npos : bar - start)));
        if (bar == std::string_view::npos) break;
        start = bar + 1;
    }
    return parts;
}

bool Truthy(std::string_view s) {
    std::string l(s);
    for (char& c : l) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return l == "stepped" || l == "yes" || l == "true" || l == "1";
}

}  // namespace

ItemsFileResult AddItemsFromText(std::string_view text, AddressSpace& space) {
    ItemsFileResult result;
    int lineNo = 0;
    while (!text.empty()) {
        std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        ++lineNo;
        line = Trim(line);
        if (line.empty() || line.front() == '#') continue;
        auto parts = SplitBar(line);
        auto problem = [&](const std::string& what) {
            result.problems.push_back("line " + std::to_string(lineNo) + ": " + what);
        };
        if (parts.size() < 2 || parts.size() > 5) {
            problem("expected 'ItemID | Type [| Stepped [| EngUnits [| Description]]]'");
            continue;
        }
        ItemDef def;
        def.id = com::Utf8ToUtf16(parts[0]);
        def.kind = ItemKind::Writable;
        def.vt = TypeFromName(com::Utf8ToUtf16(parts[1]));
        if (def.vt == VT_EMPTY) {
            problem("unknown type '" + std::string(parts[1]) + "'");
            continue;
        }
        def.stepped = parts.size() > 2 && Truthy(parts[2]);
        if (parts.size() > 3) def.engUnits = com::Utf8ToUtf16(parts[3]);
        def.description = parts.size() > 4 ? com::Utf8ToUtf16(parts[4]) : u"Configured writable item";
        if (IsNumericType(def.vt) && def.vt != VT_DATE) {
            def.normalMin = 0;
            def.normalMax = 100;
        }
        std::string why;
        if (!space.Add(std::move(def), &why)) {
            problem(why + " ('" + std::string(parts[0]) + "')");
            continue;
        }
        ++result.added;
    }
    return result;
}

ItemsFileResult AddItemsFromFile(const std::string& path, AddressSpace& space) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ItemsFileResult r;
        r.problems.push_back("cannot read " + path);
        return r;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    return AddItemsFromText(ss.str(), space);
}

}  // namespace sim

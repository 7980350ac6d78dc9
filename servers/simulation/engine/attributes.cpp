// Item attributes.
#include "servers/simulation/engine/attributes.h"

namespace sim {

namespace {
constexpr AttributeInfo kAttributes[] = {
    {OPCHDA_DATA_TYPE, u"Data Type", u"Data type of the item's values (a VARTYPE code)", VT_I2},
    {OPCHDA_DESCRIPTION, u"Description", u"Description of the item", VT_BSTR},
    {OPCHDA_ENG_UNITS, u"Eng Units", u"Engineering units of the item's values", VT_BSTR},
    {OPCHDA_STEPPED, u"Stepped", u"Whether values between samples are stepped (TRUE) or interpolated (FALSE)",
     VT_BOOL},
    {OPCHDA_ARCHIVING, u"Archiving", u"Whether the item's history is being collected", VT_BOOL},
    {OPCHDA_DERIVE_EQUATION, u"Derive Equation", u"How the item's values are derived", VT_BSTR},
    {OPCHDA_NODE_NAME, u"Node Name", u"Computer the item's data comes from", VT_BSTR},
    {OPCHDA_PROCESS_NAME, u"Process Name", u"Process the item's data comes from", VT_BSTR},
    {OPCHDA_SOURCE_NAME, u"Source Name", u"Name of the item at its source", VT_BSTR},
    {OPCHDA_SOURCE_TYPE, u"Source Type", u"Kind of source the item's data comes from", VT_BSTR},
    {OPCHDA_NORMAL_MAXIMUM, u"Normal Maximum", u"Upper end of the item's normal range (trend scaling)",
     VT_R8},
    {OPCHDA_NORMAL_MINIMUM, u"Normal Minimum", u"Lower end of the item's normal range (trend scaling)",
     VT_R8},
    {OPCHDA_ITEMID, u"ItemID", u"The item's name within its branch", VT_BSTR},
    {OPCHDA_MAX_TIME_INT, u"Max Time Interval", u"Longest time between two collected values (100 ns units)",
     VT_CY},
    {OPCHDA_MIN_TIME_INT, u"Min Time Interval", u"Shortest time between two collected values (100 ns units)",
     VT_CY},
    {OPCHDA_EXCEPTION_DEV, u"Exception Deviation", u"Change a value needs before it is collected", VT_R8},
    {OPCHDA_EXCEPTION_DEV_TYPE, u"Exception Dev Type",
     u"Exception deviation as 0 absolute, 1 percent of span, 2 percent of value", VT_I2},
    {OPCHDA_HIGH_ENTRY_LIMIT, u"High Entry Limit", u"Highest value the item accepts", VT_R8},
    {OPCHDA_LOW_ENTRY_LIMIT, u"Low Entry Limit", u"Lowest value the item accepts", VT_R8},
};

Value Text(std::u16string s) {
    return Value::Text(std::move(s));
}
Value Bool(bool b) {
    return Value::Int(VT_BOOL, b ? VARIANT_TRUE : VARIANT_FALSE);
}
std::optional<Value> Real(const std::optional<double>& d) {
    if (!d) return std::nullopt;
    return Value::Real(VT_R8, *d);
}
}  // namespace

std::span<const AttributeInfo> Attributes() {
    return kAttributes;
}

const AttributeInfo* FindAttribute(DWORD id) {
    for (const auto& a : kAttributes)
        if (a.id == id) return &a;
    return nullptr;
}

std::optional<Value> AttributeValue(const ItemDef& item, DWORD id, const AttributeContext& ctx) {
    const bool generated = item.kind == ItemKind::Generated;
    const bool numeric = IsNumericType(item.vt) && item.vt != VT_BOOL;
    switch (id) {
        case OPCHDA_DATA_TYPE:
            return Value::Int(VT_I2, item.vt);
        case OPCHDA_DESCRIPTION:
            return Text(item.description);
        case OPCHDA_ENG_UNITS:
            if (!numeric) return std::nullopt;
            return Text(item.engUnits);
        case OPCHDA_STEPPED:
            return Bool(item.stepped);
        case OPCHDA_ARCHIVING:
            return Bool(generated || ctx.storeWritable);
        case OPCHDA_DERIVE_EQUATION:
            if (!generated) return std::nullopt;
            return Text(DescribeSignal(item.signal));
        case OPCHDA_NODE_NAME:
            return Text(ctx.nodeName);
        case OPCHDA_PROCESS_NAME:
            return Text(ctx.processName);
        case OPCHDA_SOURCE_NAME:
            return Text(item.id);
        case OPCHDA_SOURCE_TYPE:
            return Text(generated ? u"Simulation" : u"Manual entry");
        case OPCHDA_NORMAL_MAXIMUM:
            return Real(item.normalMax);
        case OPCHDA_NORMAL_MINIMUM:
            return Real(item.normalMin);
        case OPCHDA_ITEMID:
            return Text(item.name);
        case OPCHDA_MAX_TIME_INT:
        case OPCHDA_MIN_TIME_INT:
            // Generated items are sampled at a fixed period; stored items at whatever instants
            // were written.
            if (!generated) return std::nullopt;
            return Value::Int(VT_CY, static_cast<std::int64_t>(item.signal.samplePeriod));
        case OPCHDA_EXCEPTION_DEV:
            if (!generated || !numeric) return std::nullopt;
            return Value::Real(VT_R8, 0.0);  // every sample is kept
        case OPCHDA_EXCEPTION_DEV_TYPE:
            if (!generated || !numeric) return std::nullopt;
            return Value::Int(VT_I2, 0);
        case OPCHDA_HIGH_ENTRY_LIMIT:
            return Real(item.highEntry);
        case OPCHDA_LOW_ENTRY_LIMIT:
            return Real(item.lowEntry);
        default:
            return std::nullopt;
    }
}

}  // namespace sim

#include "tools/vistrel/output.h"

#include <algorithm>

#include "client/csvexport.h"

namespace vistrel {

void AppendJsonString(std::string& out, std::string_view s) {
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    std::size_t run = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(s.substr(run, i - run));
        run = i + 1;
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += "\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 15];
        }
    }
    out.append(s.substr(run));
    out += '"';
}

namespace {

constexpr std::size_t kFlushAt = 1 << 16;

class CBuffered : public CWriter {
public:
    explicit CBuffered(std::ostream& out) : m_out(out) { m_buf.reserve(kFlushAt + 4096); }
    ~CBuffered() override { Flush(); }

protected:
    void Flush() {
        if (!m_buf.empty()) m_out.write(m_buf.data(), static_cast<std::streamsize>(m_buf.size()));
        m_buf.clear();
        m_out.flush();
    }
    void MaybeFlush() {
        if (m_buf.size() >= kFlushAt) {
            m_out.write(m_buf.data(), static_cast<std::streamsize>(m_buf.size()));
            m_buf.clear();
        }
    }
    std::ostream& m_out;
    std::string m_buf;
    std::vector<Column> m_cols;
};

class CCsvWriter final : public CBuffered {
public:
    using CBuffered::CBuffered;
    void Begin(const Fields&, std::vector<Column> columns, std::string groups, std::string) override {
        m_cols = std::move(columns);
        m_rowCells = m_cols.size();
        // Rows of groups (items) carry the result of the call that returned them.
        if (!groups.empty())
            for (std::size_t i = 0; i < 2; ++i)
                m_cols.push_back({client::kResultColumnNames[i], kResultKeys[i]});
        for (std::size_t i = 0; i < m_cols.size(); ++i) {
            if (i) m_buf += ',';
            AppendCsvField(m_buf, m_cols[i].name);
        }
        m_buf += "\r\n";
    }
    void BeginGroup(const Fields& fields) override {
        m_group = fields;
        m_result.clear();
        m_groupRows = 0;
    }
    void RowsResult(const Fields& result) override { m_result = result; }
    void Row(const std::string_view* cells, std::size_t n) override {
        if (m_cols.size() == m_rowCells) {
            m_rows.Row(m_buf, cells, n);
        } else {
            m_cells.assign(cells, cells + std::min(n, m_rowCells));
            m_cells.resize(m_rowCells);
            for (const char* key : kResultKeys) m_cells.push_back(Find(m_result, key));
            m_rows.Row(m_buf, m_cells.data(), m_cells.size());
        }
        ++m_groupRows;
        MaybeFlush();
    }
    void EndGroup(const Fields& fields) override {
        if (m_groupRows == 0 && m_cols.size() != m_rowCells) {
            m_cells.clear();
            for (const Column& c : m_cols) {
                std::string_view cell = Find(m_group, c.key);
                if (cell.empty()) cell = Find(fields, c.key);
                m_cells.push_back(cell);
            }
            m_rows.Row(m_buf, m_cells.data(), m_cells.size());
        }
        m_group.clear();
    }
    void End() override { Flush(); }

private:
    static constexpr const char* kResultKeys[2] = {"code", "code_text"};
    static std::string_view Find(const Fields& fields, std::string_view key) {
        for (const auto& [k, v] : fields)
            if (k == key) return v;
        return {};
    }
    client::CCsvRows m_rows;
    std::size_t m_rowCells = 0;
    Fields m_group, m_result;
    std::size_t m_groupRows = 0;
    std::vector<std::string_view> m_cells;
};

class CJsonWriter final : public CBuffered {
public:
    using CBuffered::CBuffered;
    void Begin(const Fields& header, std::vector<Column> columns, std::string groups,
               std::string rows) override {
        m_cols = std::move(columns);
        m_groups = !groups.empty();
        m_buf += '{';
        bool first = true;
        for (const auto& [k, v] : header) {
            if (!first) m_buf += ',';
            first = false;
            AppendJsonString(m_buf, k);
            m_buf += ':';
            AppendJsonString(m_buf, v);
        }
        if (!first) m_buf += ',';
        AppendJsonString(m_buf, m_groups ? groups : rows);
        m_buf += ":[";
        m_rowsName = std::move(rows);
        m_firstGroup = true;
        m_firstRow = true;
    }
    void BeginGroup(const Fields& fields) override {
        if (!m_groups) return;
        m_buf += m_firstGroup ? "\n{" : ",\n{";
        m_firstGroup = false;
        for (const auto& [k, v] : fields) {
            AppendJsonString(m_buf, k);
            m_buf += ':';
            AppendJsonString(m_buf, v);
            m_buf += ',';
        }
        AppendJsonString(m_buf, m_rowsName);
        m_buf += ":[";
        m_firstRow = true;
    }
    void Row(const std::string_view* cells, std::size_t n) override {
        m_buf += m_firstRow ? "\n{" : ",\n{";
        m_firstRow = false;
        bool first = true;
        for (std::size_t i = 0; i < n && i < m_cols.size(); ++i) {
            if (m_groups && m_cols[i].group) continue;
            if (!first) m_buf += ',';
            first = false;
            AppendJsonString(m_buf, m_cols[i].key);
            m_buf += ':';
            AppendJsonString(m_buf, cells[i]);
        }
        m_buf += '}';
        MaybeFlush();
    }
    void EndGroup(const Fields& fields) override {
        if (!m_groups) return;
        m_buf += ']';
        for (const auto& [k, v] : fields) {
            m_buf += ',';
            AppendJsonString(m_buf, k);
            m_buf += ':';
            AppendJsonString(m_buf, v);
        }
        m_buf += '}';
    }
    void End() override {
        m_buf += "\n]}\n";
        Flush();
    }

private:
    bool m_groups = false;
    bool m_firstGroup = true;
    bool m_firstRow = true;
    std::string m_rowsName;
};

// Display width of UTF-8 text: one column per code point (the texts are Latin, digits and symbols).
std::size_t Width(std::string_view s) {
    std::size_t w = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++w;
    return w;
}

class CTableWriter final : public CBuffered {
public:
    using CBuffered::CBuffered;
    void Begin(const Fields& header, std::vector<Column> columns, std::string, std::string) override {
        m_cols = std::move(columns);
        for (const auto& [k, v] : header) {
            m_buf += k;
            m_buf += ": ";
            m_buf += v;
            m_buf += '\n';
        }
        if (!header.empty()) m_buf += '\n';
        m_widths.assign(m_cols.size(), 0);
        for (std::size_t i = 0; i < m_cols.size(); ++i) m_widths[i] = Width(m_cols[i].name);
    }
    void BeginGroup(const Fields& fields) override { m_group = fields; }
    void Row(const std::string_view* cells, std::size_t n) override {
        if (m_measured) {
            WriteRow(cells, n);
            MaybeFlush();
            return;
        }
        std::vector<std::string> row(cells, cells + n);
        m_pending.push_back({std::move(row), {}});
        if (m_pending.size() >= kMeasureRows) Release();
    }
    void EndGroup(const Fields& fields) override {
        // "-- ITEM aggregate=3: 0x00000000 OK"
        std::string line = "--";
        for (std::size_t i = 0; i < m_group.size(); ++i) {
            line += ' ';
            if (i > 0) line += m_group[i].first + "=";
            line += m_group[i].second;
        }
        m_group.clear();
        line += ':';
        for (const auto& [k, v] : fields) {
            line += ' ';
            line += v;
        }
        if (m_measured) {
            m_buf += line;
            m_buf += '\n';
        } else {
            m_pending.push_back({{}, std::move(line)});
        }
    }
    void End() override {
        Release();
        Flush();
    }

private:
    static constexpr std::size_t kMeasureRows = 256;
    struct Pending {
        std::vector<std::string> cells;
        std::string summary;  // a summary line instead of cells
    };

    void Release() {
        if (m_measured) return;
        for (const auto& p : m_pending)
            for (std::size_t i = 0; i < p.cells.size() && i < m_widths.size(); ++i)
                m_widths[i] = std::max(m_widths[i], Width(p.cells[i]));
        m_measured = true;
        std::vector<std::string_view> names;
        for (const auto& c : m_cols) names.emplace_back(c.name);
        WriteRow(names.data(), names.size());
        for (std::size_t i = 0; i < m_cols.size(); ++i) {
            if (i) m_buf += "  ";
            m_buf.append(m_widths[i], '-');
        }
        m_buf += '\n';
        for (const auto& p : m_pending) {
            if (p.cells.empty() && !p.summary.empty()) {
                m_buf += p.summary;
                m_buf += '\n';
                continue;
            }
            std::vector<std::string_view> v(p.cells.begin(), p.cells.end());
            WriteRow(v.data(), v.size());
        }
        m_pending.clear();
    }
    void WriteRow(const std::string_view* cells, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            if (i) m_buf += "  ";
            m_buf.append(cells[i]);
            if (i + 1 < n && i < m_widths.size()) {
                const std::size_t w = Width(cells[i]);
                if (w < m_widths[i]) m_buf.append(m_widths[i] - w, ' ');
            }
        }
        m_buf += '\n';
    }

    bool m_measured = false;
    Fields m_group;
    std::vector<std::size_t> m_widths;
    std::vector<Pending> m_pending;
};

}  // namespace

std::unique_ptr<CWriter> MakeWriter(Format format, std::ostream& out) {
    switch (format) {
        case Format::Csv:
            return std::make_unique<CCsvWriter>(out);
        case Format::Json:
            return std::make_unique<CJsonWriter>(out);
        case Format::Table:
            break;
    }
    return std::make_unique<CTableWriter>(out);
}

}  // namespace vistrel

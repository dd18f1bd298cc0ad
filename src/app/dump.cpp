#include "app/dump.h"

#include <charconv>
#include <cstdio>

namespace pasarela {
namespace {

std::string CsvCell(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (byte < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", byte);
                out += escape;
            } else {
                out += c;
            }
        }
    }
    return out + '"';
}

std::string JsonNumber(double value)
{
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string DateText(const DbfValue& value)
{
    char buffer[40];
    if (value.kind == DbfValue::Kind::Date) {
        std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", value.year, value.month, value.day);
    } else if (value.millisecond != 0) {
        std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", value.year, value.month, value.day,
                      value.hour, value.minute, value.second, value.millisecond);
    } else {
        std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d", value.year, value.month, value.day,
                      value.hour, value.minute, value.second);
    }
    return buffer;
}

std::string CsvValue(const DbfValue& value)
{
    switch (value.kind) {
    case DbfValue::Kind::Empty: return {};
    case DbfValue::Kind::Text: return CsvCell(value.text);
    case DbfValue::Kind::Integer: return std::to_string(value.integer);
    case DbfValue::Kind::Number: return JsonNumber(value.number);
    case DbfValue::Kind::Logical: return value.logical ? "T" : "F";
    case DbfValue::Kind::Date:
    case DbfValue::Kind::DateTime: return DateText(value);
    }
    return {};
}

bool IsTextType(char type)
{
    switch (type) {
    case 'C': case 'V': case 'Q': case 'W': case 'M': case 'G': case 'P': return true;
    default: return false;
    }
}

std::string JsonValue(const DbfValue& value, const DbfField& field, DbfDialect dialect)
{
    switch (value.kind) {
    case DbfValue::Kind::Empty:
        // Memo pointers and empty texts read as empty text; other empty values are null.
        if (IsTextType(field.type) || (field.type == 'B' && dialect != DbfDialect::VisualFoxPro))
            return "\"\"";
        return "null";
    case DbfValue::Kind::Text: return JsonString(value.text);
    case DbfValue::Kind::Integer: return std::to_string(value.integer);
    case DbfValue::Kind::Number: return JsonNumber(value.number);
    case DbfValue::Kind::Logical: return value.logical ? "true" : "false";
    case DbfValue::Kind::Date:
    case DbfValue::Kind::DateTime: return JsonString(DateText(value));
    }
    return "null";
}

}  // namespace

void DumpCsv(DbfTable& table, std::ostream& out)
{
    const auto& fields = table.Fields();
    for (std::size_t i = 0; i < fields.size(); ++i)
        out << (i ? "," : "") << CsvCell(fields[i].name);
    out << "\r\n";
    for (table.First(); !table.Eof(); table.Next()) {
        for (std::size_t i = 0; i < fields.size(); ++i)
            out << (i ? "," : "") << CsvValue(table.Value(i));
        out << "\r\n";
    }
}

void DumpJson(DbfTable& table, std::ostream& out)
{
    const auto& fields = table.Fields();
    out << "{\"fields\": [";
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const DbfField& f = fields[i];
        out << (i ? ", " : "") << "{\"name\": " << JsonString(f.name) << ", \"type\": " << JsonString(std::string(1, f.type))
            << ", \"length\": " << f.length << ", \"decimals\": " << static_cast<int>(f.decimals) << "}";
    }
    out << "], \"records\": [";
    bool firstRecord = true;
    for (table.First(); !table.Eof(); table.Next()) {
        out << (firstRecord ? "\n" : ",\n") << "  [";
        firstRecord = false;
        for (std::size_t i = 0; i < fields.size(); ++i)
            out << (i ? ", " : "") << JsonValue(table.Value(i), fields[i], table.Dialect());
        out << "]";
    }
    out << (firstRecord ? "" : "\n") << "]}\n";
}

}  // namespace pasarela

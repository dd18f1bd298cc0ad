#include "import/import_context.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "os/error.h"
#include "text/text.h"

namespace pasarela {

std::string_view Entry::Read(std::string_view attribute) const
{
    for (const XmlAttributeRef& held : attributes_)
        if (NameIs(held.name, attribute))
            return Trim(held.value);
    return {};
}

std::string Entry::Label(std::initializer_list<std::string_view> keys) const
{
    // Built in place: a file of merged schools can give tens of thousands of notices.
    std::string label;
    label.reserve(80);
    label.append(element_).append(" nº ").append(std::to_string(number_));
    bool first = true;
    for (std::string_view key : keys) {
        label.append(first ? " (" : ", ").append(key).append("='").append(Excerpt(Read(key))).append("'");
        first = false;
    }
    if (!first)
        label += ")";
    return label;
}

void NamesById::Remember(std::string_view id, std::string_view code, std::string_view name)
{
    const std::size_t at = texts_.size();
    if (at > 0xFFFFFFFFu - code.size() - name.size() - 2)
        throw Error("El archivo tiene más nombres de los que el programa puede tener a la vez");
    if (!index_.Insert(id, static_cast<std::uint32_t>(at)))
        return;
    texts_.append(code).append(1, '\0').append(name).append(1, '\0');
}

std::optional<NamedInFile> NamesById::Find(std::string_view id) const
{
    const std::optional<std::uint32_t> at = index_.Find(id);
    if (!at)
        return std::nullopt;
    const std::string_view texts(texts_);
    const std::string_view code = texts.substr(*at, texts.find('\0', *at) - *at);
    const std::size_t nameAt = *at + code.size() + 1;
    return NamedInFile{code, texts.substr(nameAt, texts.find('\0', nameAt) - nameAt)};
}

PostedRows::PostedRows(std::string_view keyField, std::initializer_list<std::string_view> fields)
    : keyField_(keyField), fieldNames_(fields.begin(), fields.end()), found_(fields.size())
{
}

void PostedRows::Note(const DbfTable& table)
{
    if (fields_.empty()) {
        keyIndex_ = table.FieldIndex(keyField_);
        for (const std::string& name : fieldNames_)
            fields_.push_back(table.FieldIndex(name));
    }
    const auto row = static_cast<std::uint32_t>(index_.Size());
    if (!index_.Insert(table.AppendingText(keyIndex_, buffer_), row))
        return;
    for (const std::size_t field : fields_) {
        texts_.append(table.AppendingText(field, buffer_));
        if (texts_.size() > 0xFFFFFFFFu)
            throw Error("El archivo tiene más datos de los que el programa puede tener a la vez");
        ends_.push_back(static_cast<std::uint32_t>(texts_.size()));
    }
}

std::optional<std::span<const std::string_view>> PostedRows::Find(std::string_view key) const
{
    const std::optional<std::uint32_t> row = index_.Find(key);
    if (!row)
        return std::nullopt;
    const std::size_t first = *row * fieldNames_.size();
    for (std::size_t i = 0; i < found_.size(); ++i) {
        const std::size_t start = first + i == 0 ? 0 : ends_[first + i - 1];
        found_[i] = std::string_view(texts_).substr(start, ends_[first + i] - start);
    }
    return std::span<const std::string_view>(found_);
}

HeldEntry::HeldEntry(const Entry& entry) : element_(entry.Element()), number_(entry.Number())
{
    texts_.reserve(entry.Attributes().size() * 2);
    for (const XmlAttributeRef& attribute : entry.Attributes()) {
        texts_.emplace_back(attribute.name);
        texts_.emplace_back(attribute.value);
    }
    for (std::size_t i = 0; i < texts_.size(); i += 2)
        refs_.push_back({texts_[i].c_str(), texts_[i + 1].c_str()});
}

namespace {

constexpr std::size_t kSpoolBlock = std::size_t{1} << 20;

void PutNumber(std::string& out, std::size_t value)
{
    const auto number = static_cast<std::uint32_t>(value);
    char bytes[4];
    std::memcpy(bytes, &number, sizeof bytes);
    out.append(bytes, sizeof bytes);
}

void PutText(std::string& out, std::string_view text)
{
    PutNumber(out, text.size());
    out.append(text);
    out.push_back('\0');
}

}  // namespace

EntrySpool::EntrySpool(std::filesystem::path path)
    : path_(std::move(path)), file_(File::Open(path_, File::Mode::Create, File::Links::Refuse))
{
}

EntrySpool::~EntrySpool()
{
    file_.Close();
    std::error_code ec;
    std::filesystem::remove(path_, ec);
}

void EntrySpool::Append(const Entry& entry)
{
    PutNumber(buffer_, entry.Number());
    PutNumber(buffer_, entry.Attributes().size());
    PutText(buffer_, entry.Element());
    for (const XmlAttributeRef& attribute : entry.Attributes()) {
        PutText(buffer_, attribute.name);
        PutText(buffer_, attribute.value);
    }
    ++count_;
    if (buffer_.size() >= kSpoolBlock)
        FlushWrites();
}

void EntrySpool::FlushWrites()
{
    if (buffer_.empty())
        return;
    file_.WriteAt(written_, buffer_.data(), buffer_.size());
    written_ += buffer_.size();
    buffer_.clear();
}

void EntrySpool::Rewind()
{
    FlushWrites();
    readAt_ = 0;
    bufferPos_ = 0;
    buffer_.clear();
}

// Makes sure `need` bytes from the read position are in the buffer; false at the end.
bool EntrySpool::Fill(std::size_t need)
{
    if (buffer_.size() - bufferPos_ >= need)
        return true;
    buffer_.erase(0, bufferPos_);
    bufferPos_ = 0;
    while (buffer_.size() < need && readAt_ < written_) {
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>(std::max(kSpoolBlock, need - buffer_.size()), written_ - readAt_));
        const std::size_t before = buffer_.size();
        buffer_.resize(before + want);
        const std::size_t got = file_.ReadAt(readAt_, buffer_.data() + before, want);
        buffer_.resize(before + got);
        readAt_ += got;
        if (got == 0)
            break;
    }
    return buffer_.size() >= need;
}

bool EntrySpool::NextEntry()
{
    // The whole record is read before any pointer into the buffer is taken.
    const auto number = [this](std::size_t at) {
        std::uint32_t value = 0;
        std::memcpy(&value, buffer_.data() + bufferPos_ + at, sizeof value);
        return static_cast<std::size_t>(value);
    };
    if (!Fill(8))
        return false;
    const std::size_t attributes = number(4);
    std::size_t size = 8;
    for (std::size_t text = 0; text < 1 + 2 * attributes; ++text) {
        if (!Fill(size + 4))
            throw Error("No se pudo leer de nuevo el archivo auxiliar " + QuotedPath(path_));
        size += 4 + number(size) + 1;
    }
    if (!Fill(size))
        throw Error("No se pudo leer de nuevo el archivo auxiliar " + QuotedPath(path_));
    number_ = number(0);
    std::size_t at = bufferPos_ + 8;
    const auto take = [&] {
        std::uint32_t length = 0;
        std::memcpy(&length, buffer_.data() + at, sizeof length);
        const char* text = buffer_.data() + at + 4;
        at += 4 + length + 1;
        return text;
    };
    element_ = take();
    refs_.clear();
    for (std::size_t i = 0; i < attributes; ++i) {
        const char* name = take();
        const char* value = take();
        refs_.push_back({name, value});
    }
    bufferPos_ += size;
    return true;
}

DbfTable CreateStepTable(const ImportContext& context, const ImportedTable& table)
{
    std::filesystem::path path = context.tableDir / (std::string(table.name) + ".DBF");
    DbfTable::Create(path, table.fields);
    return DbfTable::Open(path, {.access = DbfTable::Access::ReadWrite, .codePage = {},
                                 .decimalSeparator = context.decimalSeparator});
}

std::string NoticeLabel(std::string_view kind, std::size_t number, std::string_view code, std::string_view name,
                        std::string_view id)
{
    std::string label;
    label.reserve(80);
    label.append(kind).append(" nº ").append(std::to_string(number));
    if (!code.empty() || !name.empty() || !id.empty())
        label += ":";
    if (!code.empty())
        label.append(" ").append(Excerpt(code));
    if (!name.empty())
        label.append(" «").append(Excerpt(name)).append("»");
    if (!id.empty())
        label.append(" (identificador ").append(Excerpt(id)).append(")");
    return label;
}

void StoreText(ImportContext& context, DbfTable& table, std::size_t field, std::string_view text,
               const EntryLabel& label, Cut cut)
{
    StoreNote note = table.SetString(field, text);
    if (!note.truncated && note.replaced == 0)
        return;
    const std::string& fieldName = table.Fields()[field].name;
    std::string tableName = table.Path().stem().string();
    const std::string detail = label() + ": '" + Excerpt(text) + "'";
    if (cut == Cut::Key) {
        // Either fault makes the stored identifier another text, which no assignment
        // names: one notice says what that costs.
        context.report.Note(tableName,
                            note.truncated ? "identificador más largo que el campo " + fieldName +
                                                 ": sus asignaciones no se podrán enlazar"
                                           : "identificador con caracteres que Windows-1252 no admite: " + fieldName +
                                                 " no puede guardarlo y sus asignaciones no se podrán enlazar",
                            detail);
        return;
    }
    if (note.truncated)
        context.report.Note(tableName,
                            cut == Cut::Identifier
                                ? "identificador más largo que el campo " + fieldName + ": se guarda recortado"
                                : "texto recortado al ancho del campo " + fieldName,
                            detail);
    if (note.replaced > 0)
        context.report.Note(tableName, "caracteres que Windows-1252 no admite guardados como '?' en " + fieldName,
                            detail);
}

void NoteSingleEntry(ImportContext& context, std::string_view table, std::string_view kind, std::size_t count)
{
    if (count == 1)
        context.report.Note(std::string(table), "sección con una sola entrada: la tabla queda vacía",
                            std::string(kind) + " nº 1");
}

}  // namespace pasarela

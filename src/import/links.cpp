#include "import/links.h"

#include "os/error.h"
#include "text/text.h"

namespace pasarela {

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

}  // namespace pasarela

#include "dbf/dbf_header.h"

#include <algorithm>
#include <cstring>

#include "dbf/dbf_bytes.h"
#include "dbf/dbf_codecs.h"
#include "os/error.h"
#include "os/file.h"

namespace pasarela {
namespace {

using namespace dbf;

CodePage CodePageFromLanguageId(std::uint8_t id, bool& known)
{
    known = true;
    switch (id) {
    case 0x01: case 0x09: case 0x0B: case 0x0D: case 0x0F: case 0x11: case 0x15: case 0x18:
    case 0x19: case 0x1B:
        return CodePage::Dos437;
    case 0x02: case 0x0A: case 0x0E: case 0x10: case 0x12: case 0x14: case 0x16: case 0x1A:
    case 0x1D: case 0x25: case 0x37:
        return CodePage::Dos850;
    case 0x1F: case 0x22: case 0x23: case 0x40: case 0x64: case 0x87:
        return CodePage::Dos852;
    case 0x08: case 0x17: case 0x66:
        return CodePage::Dos865;
    case 0x26: case 0x65:
        return CodePage::Dos866;
    case 0x03: case 0x57: case 0x58: case 0x59:
        return CodePage::Windows1252;
    case 0xC8:
        return CodePage::Windows1250;
    case 0xC9:
        return CodePage::Windows1251;
    case 0xCB:
        return CodePage::Windows1253;
    default:
        known = false;
        return CodePage::Windows1252;
    }
}

CodePage CodePageFromDriverName(std::string_view name)
{
    if (name.starts_with("DB437"))
        return CodePage::Dos437;
    if (name.starts_with("DB850"))
        return CodePage::Dos850;
    if (name.starts_with("DB852"))
        return CodePage::Dos852;
    if (name.starts_with("DB865"))
        return CodePage::Dos865;
    if (name.starts_with("DB866"))
        return CodePage::Dos866;
    return CodePage::Windows1252;  // DBWIN* drivers and anything we do not know
}

bool IsKnownVersion(std::uint8_t version)
{
    switch (version) {
    case 0x03: case 0x83: case 0x8B: case 0xCB: case 0x43: case 0x63: case 0x05:
    case 0x04: case 0x8C:
    case 0x30: case 0x31: case 0x32:
    case 0xF5: case 0xFB:
        return true;
    default:
        return false;
    }
}

DbfDialect DialectOfVersion(std::uint8_t version)
{
    if ((version & 0x07) == 0x04)
        return DbfDialect::DBase7;
    if (version >= 0x30 && version <= 0x32)
        return DbfDialect::VisualFoxPro;
    if (version == 0xF5 || version == 0xFB)
        return DbfDialect::FoxPro;
    if (version == 0x03 || version == 0x83)
        return DbfDialect::DBase3;
    return DbfDialect::DBase4;
}

std::string Hex(unsigned value)
{
    static const char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[(value >> 4) & 0xF] + digits[value & 0xF];
}

}  // namespace

DbfHeader DbfHeader::Parse(std::span<const unsigned char> head, std::uint64_t fileSize,
                           const std::filesystem::path& pathForMessages)
{
    auto bad = [&pathForMessages](const std::string& why) {
        return Error("El archivo '" + DisplayPath(pathForMessages) + "' no es una tabla dBase válida: " + why);
    };
    DbfHeader header;
    if (head.size() < 32)
        throw bad("la cabecera está incompleta");
    header.version = head[0];
    if (!IsKnownVersion(header.version))
        throw bad("versión " + Hex(header.version) + " desconocida");
    header.dialect = DialectOfVersion(header.version);

    const std::uint32_t declaredCount = ReadU32(&head[4]);
    header.headerLength = ReadU16(&head[8]);
    const std::uint32_t declaredRecordLength = ReadU16(&head[10]);

    const bool level7 = header.dialect == DbfDialect::DBase7;
    const std::size_t descriptorStart = level7 ? kLevel7HeaderSize : 32;
    const std::size_t descriptorSize = level7 ? kLevel7DescriptorSize : kClassicDescriptorSize;
    if (header.headerLength > fileSize)
        throw bad("la cabecera dice medir " + std::to_string(header.headerLength) + " bytes y el archivo solo tiene " +
                  std::to_string(fileSize));
    if (header.headerLength < descriptorStart)
        throw bad("la longitud de la cabecera (" + std::to_string(header.headerLength) + ") es demasiado corta");

    bool knownLanguage = true;
    if (level7) {
        const char* name = reinterpret_cast<const char*>(&head[32]);
        header.languageDriver.assign(name, strnlen(name, 32));
        header.codePage = CodePageFromDriverName(header.languageDriver);
    } else {
        header.codePage = CodePageFromLanguageId(head[29], knownLanguage);
    }

    std::vector<DbfField>& fields = header.fields;
    for (std::size_t at = descriptorStart; at + descriptorSize <= header.headerLength; at += descriptorSize) {
        // Some writers end the list with 0x0A, others only by the header length.
        if (head[at] == kHeaderEnd || head[at] == 0x0A)
            break;
        DbfField field;
        const std::size_t nameSize = level7 ? 32 : 11;
        const char* name = reinterpret_cast<const char*>(&head[at]);
        field.name.assign(name, strnlen(name, nameSize));
        field.type = static_cast<char>(head[at + (level7 ? 32 : 11)]);
        field.length = head[at + (level7 ? 33 : 16)];
        field.decimals = head[at + (level7 ? 34 : 17)];
        field.flags = level7 ? 0 : head[at + 18];
        if (field.name.empty())
            throw bad("un campo no tiene nombre");
        const DbfCodec& codec = CodecFor(field.type);
        if (!codec.KnownIn(header.dialect))
            throw bad("el campo '" + field.name + "' es de un tipo desconocido (" +
                      (field.type >= ' ' && field.type < 0x7F ? std::string(1, field.type) : Hex(static_cast<unsigned char>(field.type))) + ")");
        if (field.length == 0 && !(codec.longWidth && field.decimals > 0))
            throw bad("el campo '" + field.name + "' tiene longitud 0");
        if (auto fixed = codec.FixedWidthIn(header.dialect); fixed && field.length != *fixed)
            throw bad("el campo '" + field.name + "' de tipo " + std::string(1, field.type) + " debería medir " +
                      std::to_string(*fixed) + (*fixed == 1 ? " byte" : " bytes") + " y mide " +
                      std::to_string(field.length));
        fields.push_back(field);
    }
    if (fields.empty())
        throw bad("no tiene campos");

    // FoxPro keeps the high byte of long character widths in "decimals"; Excel writes
    // junk there. Only the record length can tell which, so apply it when it balances.
    std::uint32_t plain = 1;
    std::uint32_t extended = 1;
    for (const DbfField& f : fields) {
        plain += f.length;
        extended += f.length + (CodecFor(f.type).longWidth ? static_cast<std::uint32_t>(f.decimals) << 8 : 0u);
    }
    if (extended != plain && extended == declaredRecordLength) {
        for (DbfField& f : fields)
            if (CodecFor(f.type).longWidth) {
                f.length = static_cast<std::uint16_t>(f.length + (f.decimals << 8));
                f.decimals = 0;
            }
        plain = extended;
    }
    for (const DbfField& f : fields)
        if (f.length == 0)
            throw bad("el campo '" + f.name + "' tiene longitud 0");
    std::uint32_t offset = 0;
    for (DbfField& f : fields) {
        f.offset = offset;
        offset += f.length;
    }
    if (header.dialect == DbfDialect::VisualFoxPro) {
        // _NullFlags gives, field by field, a length bit to each V and Q field and then a
        // null bit to each nullable one.
        int bit = 0;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            DbfField& f = fields[i];
            const DbfCodec& codec = CodecFor(f.type);
            if (codec.nullFlags && header.nullFlagsField == kNoField)
                header.nullFlagsField = i;
            if (codec.lengthBit)
                f.lengthBit = bit++;
            if ((f.flags & 0x02) != 0)
                ++bit;
        }
    }
    // Stride: trust the larger of the header's length and the fields' sum, as robust
    // readers do (files exist that are off by one either way).
    header.recordLength = std::max(declaredRecordLength, plain);
    if (declaredRecordLength != plain)
        header.warnings.push_back("la longitud de registro de la cabecera (" + std::to_string(declaredRecordLength) +
                                  ") no coincide con la suma de los campos (" + std::to_string(plain) + ")");
    // Fewer whole records than the header announces means a copy cut short or a header
    // that misstates the record length: reading what is there would pass a short timetable
    // off as the whole one. Bytes after the announced records (a partial record, no end
    // mark) take nothing away and are let be.
    const std::uint64_t available = (fileSize - header.headerLength) / header.recordLength;
    if (declaredCount > available) {
        std::string why = "la cabecera anuncia " + std::to_string(declaredCount) +
                          (declaredCount == 1 ? " registro de " : " registros de ") +
                          std::to_string(header.recordLength) + " bytes y el archivo solo contiene " +
                          std::to_string(available) + (available == 1 ? " completo" : " completos");
        if (declaredRecordLength != plain)
            why += "; la longitud de registro de la cabecera (" + std::to_string(declaredRecordLength) +
                   ") no coincide con la suma de los campos (" + std::to_string(plain) + ")";
        else
            why += ": está incompleto";
        throw bad(why);
    }
    header.recordCount = static_cast<std::size_t>(declaredCount);
    if (declaredCount != available && !(declaredCount < available && available - declaredCount <= 1))
        header.warnings.push_back("la cabecera declara " + std::to_string(declaredCount) +
                                  " registros y el archivo contiene " + std::to_string(available));
    if (!knownLanguage)
        header.warnings.push_back("código de idioma " + Hex(head[29]) + " desconocido; se lee como Windows-1252");
    return header;
}

}  // namespace pasarela

#pragma once

#include <ostream>

#include "dbf/dbf_table.h"

namespace pasarela {

// A table as CSV (RFC 4180, UTF-8): a header line of field names, then one line per
// record in stored order; empty values are empty cells.
void DumpCsv(DbfTable& table, std::ostream& out);

// A table as JSON: {"fields": [{"name", "type", "length", "decimals"}], "records":
// [[value, ...], ...]}. Records are arrays because real files repeat field names.
void DumpJson(DbfTable& table, std::ostream& out);

}  // namespace pasarela

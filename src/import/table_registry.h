#pragma once

#include <memory>

#include "orlavi/orlavi_tables.h"

namespace pasarela {

struct ImportContext;
class SectionStep;

// Starts building one table of an import into the context's folder.
using TableStep = std::unique_ptr<SectionStep> (*)(ImportContext& context, const ImportedTable& table);

// The step that builds `table` from the DASTENO file; throws Error for a table no step builds.
TableStep StepFor(const ImportedTable& table);

}  // namespace pasarela

#include "plugin/format_table.h"

#include "archive/formats.h"

// "UK" comes first: its probe needs only two bytes, and its row's empty extension is
// reported as an empty text, not left out.
const FormatEntry formatTable[kFormatCount] = {
    {"", "----", createUkArchiveHandler},
    {"arc", "Starfold", createArcArchiveHandler},
};

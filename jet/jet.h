// The Jet 4 layer's public interface: what a program above the layer (the
// export, the tools, the fuzz targets) includes. The layer reads, writes,
// checks and compacts Microsoft Jet 4 (Access 2000) database files, on
// kp_base alone; its map is jet/README.md.
//
//   schema.h       a table definition and a row in memory
//   tdef_write.h   AssignColumnLayout: a definition's column numbers and offsets
//   props.h        property values (BoolProperty, TextProperty) and blobs
//   format.h       the file format's named constants (index flags and kinds)
//   builder.h      a whole new database in one pass (the template)
//   engine.h       open a database, append rows by column name, compact
//   values.h       a value converted into a column's type, as stored
//   defaults.h     the value a column starts with in a new row
//   reader.h       the catalog, definitions and rows of any Jet 4 file
//   checker.h      every invariant the layer relies on, with its page
//   compact.h      a compacted copy of any Jet 4 file
#pragma once

#include "jet/builder.h"
#include "jet/checker.h"
#include "jet/compact.h"
#include "jet/defaults.h"
#include "jet/engine.h"
#include "jet/format.h"
#include "jet/props.h"
#include "jet/reader.h"
#include "jet/schema.h"
#include "jet/tdef_write.h"
#include "jet/values.h"

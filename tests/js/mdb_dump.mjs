// Reads a Jet database with mdb-reader and prints every table as JSON:
// {"TableName": {"columns": [{"name", "type", "size"}], "rows": [{col: value}]}}
// Binary values are printed as hex strings, dates as ISO strings.
// Usage: node mdb_dump.mjs FILE [--system] [--table NAME]
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const args = process.argv.slice(2);
const file = args[0];
const withSystem = args.includes("--system");
const ti = args.indexOf("--table");
const only = ti >= 0 ? args[ti + 1] : null;

function plain(v) {
  if (v === null || v === undefined) return null;
  if (Buffer.isBuffer(v)) return v.toString("hex");
  if (v instanceof Date) return v.toISOString();
  return v;
}

const reader = new MDBReader(readFileSync(file));
const out = {};
for (const name of reader.getTableNames({ normalTables: true, systemTables: withSystem })) {
  if (only !== null && name !== only) continue;
  const t = reader.getTable(name);
  out[name] = {
    rowCount: t.rowCount,
    columns: t.getColumns().map((c) => ({ name: c.name, type: c.type, size: c.size })),
    rows: t.getData().map((r) => Object.fromEntries(Object.entries(r).map(([k, v]) => [k, plain(v)]))),
  };
}
process.stdout.write(JSON.stringify(out));

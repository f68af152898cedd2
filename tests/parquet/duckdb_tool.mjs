// Runs SQL statements in DuckDB and prints the rows of the last one as JSON.
// Usage: node duckdb_tool.mjs "<sql>" ["<sql>" ...]
import { DuckDBInstance } from '@duckdb/node-api';

const instance = await DuckDBInstance.create(':memory:');
const connection = await instance.connect();
let rows = [];
for (const sql of process.argv.slice(2)) {
  const reader = await connection.runAndReadAll(sql);
  rows = reader.getRowObjectsJson();
}
process.stdout.write(JSON.stringify(rows));
